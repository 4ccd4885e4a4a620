// The plug-in's utility opened as the host opens it, with the host's
// interfaces installed for as long as it is open. User-interface thread,
// one at a time in a process (app/session/bake_lock.h).
#pragma once

#include <string>
#include <vector>

#include "app/image/file_bitmaps.h"
#include "app/session/bake_turn.h"
#include "app/session/panel.h"
#include "app/session/plugins.h"
#include "app/session/session.h"
#include "app/session/standalone_host.h"
#include "app/session/timings.h"
#include "host/bitmap.h"
#include "host/plugin_api.h"

namespace dunsmere {

// The host's interfaces, installed for the plug-in while the panel is open.
class HostInstalls {
public:
    HostInstalls(StandaloneHost& host, BitmapManager& bitmaps);
    ~HostInstalls();
    HostInstalls(const HostInstalls&) = delete;
    HostInstalls& operator=(const HostInstalls&) = delete;
};

// Created through the descriptor, begin editing (the panel opens and loads
// its settings); end editing (the panel closes and saves them) when the
// session ends. Throws SessionError when the plug-in opens no panel.
class EditSession {
public:
    EditSession(StandaloneHost& host, const FoundPlugin& plugin);
    ~EditSession() { End(); }
    EditSession(const EditSession&) = delete;
    EditSession& operator=(const EditSession&) = delete;

    // Every page the utility added, the options after the first.
    std::vector<Panel::Page> Pages() const;
    void End();

private:
    StandaloneHost& host_;
    IUtil iutil_;
    UtilityObj* utility_ = nullptr;
};

// Runs STEPS with the utility's panel open on HOST, in the bake's TURN: the
// host's interfaces installed with BITMAPS, the panel opened (settings
// loaded), STEPS given the panel, the panel closed (settings saved). Throws
// what EditSession and STEPS throw.
template <class Steps>
void WithUtilityOpen(const BakeTurn& turn, StandaloneHost& host, BitmapManager& bitmaps, const FoundPlugin& plugin,
                     Steps&& steps)
{
    if (!turn.Held()) throw SessionError("the panel opened out of turn");
    const HostInstalls installs(host, bitmaps);
    EditSession session(host, plugin);
    steps(Panel(session.Pages()));
}

// The file bitmap manager, noting when the map's write begins: the plug-in
// chooses the output file just before it writes.
class TimedBitmapManager final : public FileBitmapManager {
public:
    TimedBitmapManager(std::string outputPath, RunTimings& timings)
        : FileBitmapManager(std::move(outputPath)), timings_(timings)
    {
    }
    int SelectFileOutput(BitmapInfo* info, void* parentWindow, const char* title) override
    {
        timings_.Record(RunTimings::kWrite);
        return FileBitmapManager::SelectFileOutput(info, parentWindow, title);
    }

private:
    RunTimings& timings_;
};

}  // namespace dunsmere
