// The host's progress bar on stderr: title, phase, bar, percentage, elapsed
// time and an estimate of the time left. On a terminal it is redrawn in
// place, at most every kRedrawInterval; elsewhere (a log, a pipe) one line
// is written per 10 percent.
//
// A run shows as phases of the plug-in's title (a map as "Rasterizing" and
// then "Baking"), each with its own clock; within a phase the percentage
// never goes back, and the state a phase ends in is always drawn. A
// completed run ends on 100 %, a cancelled one on the percentage it reached
// and the word "cancelled".
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

#include "app/session/hooks.h"

namespace dunsmere {

class ProgressBar final : public ProgressSink {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kRedrawInterval = std::chrono::milliseconds(100);

    // `now` is the bar's clock; tests give their own.
    ProgressBar(std::FILE* out, bool terminal, bool quiet, Clock::time_point (*now)() = &Clock::now)
        : out_(out), terminal_(terminal), quiet_(quiet), now_(now)
    {
    }

    // A run's bar: nothing is drawn until its first phase begins.
    void Start(const char* title) override;
    // Begins the next phase at 0 %; the one before stays as it was drawn.
    void Phase(const char* name) override;
    void Update(int percent) override;
    void End() override;
    bool Active() const override { return active_; }
    // The phase now drawn; "" before the first.
    const std::string& PhaseName() const override { return phase_; }

    // The run completed: its last phase is drawn at 100 % unless it already
    // was, also after End.
    void Complete() override;
    // The run was cancelled: its last phase is drawn once more where it
    // stands, ending in "cancelled", also after End. Complete then draws
    // nothing.
    void Cancelled() override;

    // Clears the line the bar occupies so that a message can be printed.
    void Interrupt() override;

private:
    // The current state; `tail` replaces the estimate of the time left.
    void Draw(const char* tail = nullptr);
    // Draws what an update held back, before the phase's line is left.
    void Flush();
    // Draws the last phase's closing state on a line of its own.
    void Close(int percent, const char* tail);

    std::FILE* out_;
    bool terminal_, quiet_;
    Clock::time_point (*now_)();
    bool active_ = false;
    bool drawn_ = false;
    bool held_ = false;    // an update not yet drawn
    bool closed_ = false;  // the run's last state is out
    std::string title_, phase_;
    int percent_ = 0;
    int lastDecile_ = -1;
    Clock::time_point start_, lastDraw_;
};

}  // namespace dunsmere
