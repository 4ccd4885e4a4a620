// The host's progress bar on stderr: title, phase, bar, percentage, elapsed
// time and an estimate of the time left. On a terminal it is redrawn in
// place; elsewhere (a log, a pipe) one line is written per 10 percent.
//
// A run shows as phases of the plug-in's title (a map as "Rasterizing" and
// then "Baking"), each with its own clock; within a phase the percentage
// never goes back. A completed run ends on 100 %.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class ProgressBar {
public:
    ProgressBar(std::FILE* out, bool terminal, bool quiet) : out_(out), terminal_(terminal), quiet_(quiet) {}

    // A run's bar: nothing is drawn until its first phase begins.
    void Start(const char* title);
    // Begins the next phase at 0 %; the one before stays as it was drawn.
    void Phase(const char* name);
    void Update(int percent);
    void End();
    bool Active() const { return active_; }
    // The phase now drawn; "" before the first.
    const std::string& PhaseName() const { return phase_; }

    // The run completed: its last phase is drawn at 100 % unless it already
    // was, also after End.
    void Complete();

    // Clears the line the bar occupies so that a message can be printed.
    void Interrupt();

private:
    void Draw();

    std::FILE* out_;
    bool terminal_, quiet_;
    bool active_ = false;
    bool drawn_ = false;
    std::string title_, phase_;
    int percent_ = 0;
    int lastDecile_ = -1;
    std::chrono::steady_clock::time_point start_;
};
