// The host's progress bar on stderr: title, bar, percentage, elapsed time
// and an estimate of the time left. On a terminal it is redrawn in place;
// elsewhere (a log, a pipe) one line is written per 10 percent.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

class ProgressBar {
public:
    ProgressBar(std::FILE* out, bool terminal, bool quiet) : out_(out), terminal_(terminal), quiet_(quiet) {}

    void Start(const char* title);
    void Update(int percent);
    void End();
    bool Active() const { return active_; }

    // Clears the line the bar occupies so that a message can be printed.
    void Interrupt();

private:
    void Draw();

    std::FILE* out_;
    bool terminal_, quiet_;
    bool active_ = false;
    bool drawn_ = false;
    std::string title_;
    int percent_ = 0;
    int lastDecile_ = -1;
    std::chrono::steady_clock::time_point start_;
};
