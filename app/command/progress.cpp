#include "app/command/progress.h"

#include <algorithm>

namespace dunsmere {

namespace {

std::string Minutes(double seconds)
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
    drawn_ = held_ = closed_ = false;
}

void ProgressBar::Phase(const char* name)
{
    if (!active_) return;
    Flush();
    // The phase before keeps its line on a terminal too.
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    drawn_ = closed_ = false;
    phase_ = name ? name : "";
    percent_ = 0;
    lastDecile_ = -1;
    start_ = now_();
    Draw();
}

void ProgressBar::Update(int percent)
{
    if (!active_ || phase_.empty()) return;
    percent_ = std::max(percent_, std::clamp(percent, 0, 100));
    // A rasterizing updates once per face: a terminal would get a redraw
    // for each.
    if (terminal_ && !quiet_ && now_() - lastDraw_ < kRedrawInterval) {
        held_ = true;
        return;
    }
    Draw();
}

void ProgressBar::End()
{
    if (!active_) return;
    Flush();
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    active_ = false;
    drawn_ = false;
}

void ProgressBar::Complete()
{
    if (lastDecile_ == 10 && !held_) return;  // 100 % is out already
    Close(100, nullptr);
}

void ProgressBar::Cancelled() { Close(percent_, "cancelled"); }

void ProgressBar::Close(int percent, const char* tail)
{
    if (phase_.empty() || closed_) return;
    closed_ = true;
    percent_ = percent;
    Draw(tail);
    // On a terminal the last state stays on its own line.
    if (terminal_ && drawn_ && !quiet_) std::fputc('\n', out_);
    drawn_ = false;
}

void ProgressBar::Interrupt()
{
    if (terminal_ && drawn_ && !quiet_) {
        std::fputs("\r\033[K", out_);
        drawn_ = false;
    }
}

void ProgressBar::Flush()
{
    if (held_) Draw();
}

void ProgressBar::Draw(const char* tail)
{
    held_ = false;
    const int decile = percent_ / 10;
    if (quiet_ || (!terminal_ && !tail && decile == lastDecile_)) {
        lastDecile_ = decile;
        return;
    }
    lastDecile_ = decile;
    const Clock::time_point now = now_();
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    std::string left = "--:--";
    if (percent_ > 0 && percent_ < 100) left = Minutes(elapsed * (100 - percent_) / percent_);
    if (percent_ >= 100) left = Minutes(0);
    const std::string end = tail ? tail : left + " left";
    const std::string label = title_ + ": " + phase_;
    if (terminal_) {
        constexpr int kWidth = 30;
        const int filled = percent_ * kWidth / 100;
        std::fprintf(out_, "\r\033[K%s [%s%s] %3d%%  %s elapsed, %s", label.c_str(),
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(kWidth - filled), '.').c_str(), percent_, Minutes(elapsed).c_str(),
                     end.c_str());
        drawn_ = true;
        lastDraw_ = now;
    } else {
        // A log's lines step by tens; a cancel's says where the run stood.
        std::fprintf(out_, "%s %3d%%  %s elapsed, %s\n", label.c_str(), tail ? percent_ : decile * 10,
                     Minutes(elapsed).c_str(), end.c_str());
    }
    std::fflush(out_);
}

}  // namespace dunsmere
