#include "app/command/progress.h"

#include <algorithm>

namespace {

std::string Clock(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

}  // namespace

void ProgressBar::Start(const char* title)
{
    title_ = title ? title : "";
    phase_.clear();
    active_ = true;
    drawn_ = false;
}

void ProgressBar::Phase(const char* name)
{
    if (!active_) return;
    // The phase before keeps its line on a terminal too.
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    drawn_ = false;
    phase_ = name ? name : "";
    percent_ = 0;
    lastDecile_ = -1;
    start_ = std::chrono::steady_clock::now();
    Draw();
}

void ProgressBar::Update(int percent)
{
    if (!active_ || phase_.empty()) return;
    percent_ = std::max(percent_, std::clamp(percent, 0, 100));
    Draw();
}

void ProgressBar::End()
{
    if (!active_) return;
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    active_ = false;
    drawn_ = false;
}

void ProgressBar::Complete()
{
    if (phase_.empty() || lastDecile_ == 10) return;
    const bool wasActive = active_;
    active_ = true;
    percent_ = 100;
    Draw();
    // On a terminal the last state stays on its own line.
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    drawn_ = false;
    active_ = wasActive;
}

void ProgressBar::Interrupt()
{
    if (terminal_ && drawn_ && !quiet_) {
        std::fputs("\r\033[K", out_);
        drawn_ = false;
    }
}

void ProgressBar::Draw()
{
    const int decile = percent_ / 10;
    if (quiet_) {
        lastDecile_ = decile;
        return;
    }
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string left = "--:--";
    if (percent_ > 0 && percent_ < 100) left = Clock(elapsed * (100 - percent_) / percent_);
    if (percent_ >= 100) left = Clock(0);
    const std::string label = title_ + ": " + phase_;
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = percent_ * kWidth / 100;
        std::fprintf(out_, "\r\033[K%s [%s%s] %3d%%  %s elapsed, %s left", label.c_str(),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent_, Clock(elapsed).c_str(),
                     left.c_str());
        drawn_ = true;
        lastDecile_ = decile;
    } else {
        if (decile == lastDecile_) return;
        lastDecile_ = decile;
        std::fprintf(out_, "%s %3d%%  %s elapsed, %s left\n", label.c_str(), decile * 10, Clock(elapsed).c_str(),
                     left.c_str());
    }
    std::fflush(out_);
}
