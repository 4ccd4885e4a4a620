// Work shared out over the threads a build is lent: items 0 .. count - 1,
// each taken once, by the calling thread and any helpers that start.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <new>
#include <vector>

#include "geom/ray_scene.h"

namespace dunsmere {

inline constexpr std::size_t kBuildStackBytes = std::size_t{256} << 10;
inline constexpr int kMaxBuildThreads = 64;

// How many threads, the caller's included, a build may run on.
inline int ThreadsOf(const BuildHelpers& helpers)
{
    return helpers.starter ? std::clamp(helpers.threads, 1, kMaxBuildThreads) : 1;
}

// Helpers started once for a run of short build steps, each waiting for the
// next step: spinning a little while before it sleeps, so that a step
// finds its helpers running instead of starting threads or waking a
// sleeping processor, which can take longer than the step. The owner's
// thread takes part in every step; ending the crew joins its helpers.
class HelperCrew {
public:
    // Up to ThreadsOf(lent) - 1 helpers, started as the steps have items for
    // them; fewer where a start fails.
    explicit HelperCrew(const BuildHelpers& lent);
    ~HelperCrew();
    HelperCrew(const HelperCrew&) = delete;
    HelperCrew& operator=(const HelperCrew&) = delete;

    // What a build is handed to use the crew.
    BuildHelpers Helpers() { return {starter_, threads_, this}; }

    // ParallelFor on the crew; the calling thread must be the owner's.
    void Run(std::size_t count, const std::function<void(std::size_t)>& work);

private:
    void Grow(std::size_t helpers);
    static void Entry(void* crew);
    void Serve();
    // Takes the step's items until none is left.
    void Take();

    ThreadStarter* starter_ = nullptr;
    int threads_ = 1;
    bool full_ = false;  // no more helpers to be had
    std::vector<ThreadHandle> started_;
    // The step in hand: set by Run under lock_, read by helpers that joined it.
    const std::function<void(std::size_t)>* work_ = nullptr;
    std::size_t count_ = 0;
    std::atomic<std::size_t> next_{0};
    std::atomic<bool> outOfMemory_{false};
    // Bumped for every step and for the end, so that a spinning helper sees it.
    std::atomic<std::uint64_t> generation_{0};
    std::mutex lock_;
    std::condition_variable wake_, done_;
    bool open_ = false;         // whether the step still takes helpers
    bool stop_ = false;
    int inStep_ = 0;            // helpers in the step
    std::atomic<int> busy_{0};  // the same, for the owner to spin on
};

// Calls work(item) for every item, on at most helpers.threads threads (the
// caller's included; it works alone when no helper starts, or when even
// the list of helpers cannot be had), or on the helpers' crew. Returns once
// every item is done and every helper joined or back with its crew. Throws
// std::bad_alloc when some call of `work` ran out of memory; `work` must
// throw nothing else.
inline void ParallelFor(const BuildHelpers& helpers, std::size_t count, const std::function<void(std::size_t)>& work)
{
    if (helpers.crew) {
        helpers.crew->Run(count, work);
        return;
    }
    struct Crew {
        const std::function<void(std::size_t)>* work;
        std::size_t count;
        std::atomic<std::size_t> next{0};
        std::atomic<bool> outOfMemory{false};
        static void Run(void* arg)
        {
            Crew& c = *static_cast<Crew*>(arg);
            try {
                for (std::size_t i; (i = c.next.fetch_add(1)) < c.count;) (*c.work)(i);
            } catch (const std::bad_alloc&) {
                c.outOfMemory.store(true);
            }
        }
    } crew;
    crew.work = &work;
    crew.count = count;
    const int threads = ThreadsOf(helpers);
    std::vector<ThreadHandle> started;
    int wanted = threads;
    try {
        started.reserve(static_cast<std::size_t>(threads > 1 ? threads - 1 : 0));
    } catch (const std::bad_alloc&) {
        wanted = 1;  // no list of helpers: the caller works alone
    }
    for (int t = 1; t < wanted && static_cast<std::size_t>(t) < count; ++t) {
        ThreadHandle h;
        if (!helpers.starter->Start(&Crew::Run, &crew, kBuildStackBytes, h)) break;
        started.push_back(h);
    }
    Crew::Run(&crew);
    for (ThreadHandle h : started) helpers.starter->Join(h);
    if (crew.outOfMemory.load()) throw std::bad_alloc();
}

}  // namespace dunsmere
