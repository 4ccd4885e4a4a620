#include "eval/detail/threads.h"

#include <cmath>

namespace dunsmere {

ThreadTracker::ThreadTracker(ThreadEntry entry, ThreadStarter& starter) : entry_(entry), starter_(starter) {}

void ThreadTracker::SetThreadCount(int n)
{
    threadCount_ = n;
    const std::uint32_t count = n > 0 ? static_cast<std::uint32_t>(n) : 0u;
    handles_.Resize(count, 0);
    args_.Resize(count, WorkerArg{this, 0, nullptr});
    done_.Resize(count, 0);
    started_.Resize(count, 0);
    for (std::uint32_t i = 0; i < count; ++i) {
        handles_[i] = 0;
        done_[i].value.store(1);
        started_[i] = 0;
    }
}

void ThreadTracker::Start(void* run)
{
    cancel_.store(0);
    for (int i = 0; i < threadCount_; ++i) {
        const std::uint32_t slot = static_cast<std::uint32_t>(i);
        WorkerArg* arg = &args_[slot];
        *arg = {this, i, run};
        done_[slot].value.store(0);
        ThreadHandle handle = 0;
        // The caller waits once the last one is started.
        const bool last = i == threadCount_ - 1;
        if (!(last ? starter_.StartBeforeWait(entry_, arg, kWorkerStackBytes, handle)
                           : starter_.Start(entry_, arg, kWorkerStackBytes, handle))) {
            done_[slot].value.store(1);
            throw ThreadStartError();
        }
        handles_[slot] = handle;
        started_[slot] = 1;
    }
}

void ThreadTracker::JoinAll()
{
    for (std::uint32_t i = 0; i < started_.Count(); ++i) {
        if (!started_[i]) continue;
        starter_.Join(handles_[i]);
        started_[i] = 0;
    }
}

int ThreadTracker::RunningCount() const
{
    int running = 0;
    for (std::uint32_t i = 0; i < done_.Count(); ++i)
        if (done_[i].value.load() == 0) ++running;
    return running;
}

float ThreadTracker::Progress() const
{
    const float p = static_cast<float>(itemsDone_) / static_cast<float>(total_);
    if (std::isnan(p) || p < 0.0f) return 0.0f;
    return p > 1.0f ? 1.0f : p;
}

void WaitForWorkers(const BakeHooks& hooks, ThreadTracker& tracker, std::mutex& workLock, RunWork* work)
{
    while (tracker.RunningCount() > 0) {
        hooks.sleep(500);
        std::lock_guard<std::mutex> lock(workLock);
        const int percent = work ? work->ProgressPercent(tracker.Progress())
                                 : static_cast<int>(tracker.Progress() * 90.0f);
        hooks.progress(percent);
        if (hooks.cancelRequested()) tracker.SetCancel(1);
    }
    tracker.JoinAll();
}

}  // namespace dunsmere
