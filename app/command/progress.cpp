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
    percent_ = 0;
    lastDecile_ = -1;
    active_ = true;
    drawn_ = false;
    start_ = std::chrono::steady_clock::now();
    Draw();
}

void ProgressBar::Update(int percent)
{
    if (!active_) return;
    percent_ = std::clamp(percent, 0, 100);
    Draw();
}

void ProgressBar::End()
{
    if (!active_) return;
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    active_ = false;
    drawn_ = false;
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
    if (quiet_) return;
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    std::string left = "--:--";
    if (percent_ > 0 && percent_ < 100) left = Clock(elapsed * (100 - percent_) / percent_);
    if (percent_ >= 100) left = Clock(0);
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = percent_ * kWidth / 100;
        std::fprintf(out_, "\r\033[K%s [%s%s] %3d%%  %s elapsed, %s left", title_.c_str(),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent_, Clock(elapsed).c_str(),
                     left.c_str());
        drawn_ = true;
    } else {
        const int decile = percent_ / 10;
        if (decile == lastDecile_) return;
        lastDecile_ = decile;
        std::fprintf(out_, "%s: %3d%%  %s elapsed, %s left\n", title_.c_str(), decile * 10, Clock(elapsed).c_str(),
                     left.c_str());
    }
    std::fflush(out_);
}
