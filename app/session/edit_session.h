// The plug-in's utility opened as the host opens it, with the host's
// interfaces installed for as long as it is open. User-interface thread,
// one at a time in a process (app/session/bake_lock.h).
#pragma once

#include <string>
#include <vector>

#include "app/image/file_bitmaps.h"
#include "app/session/panel.h"
#include "app/session/plugins.h"
#include "app/session/standalone_host.h"
#include "app/session/timings.h"
#include "host/bitmap.h"
#include "host/plugin_api.h"

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

    HWND Page() const { return host_.Page(); }
    // Every page the utility added, the options after the first.
    std::vector<Panel::Page> Pages() const;
    void End();

private:
    StandaloneHost& host_;
    IUtil iutil_;
    UtilityObj* utility_ = nullptr;
};

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
