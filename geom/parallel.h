// Work shared out over the threads a build is lent: items 0 .. count - 1,
// each taken once, by the calling thread and any helpers that start.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <new>
#include <vector>

#include "geom/ray_scene.h"

inline constexpr std::size_t kBuildStackBytes = std::size_t{256} << 10;
inline constexpr int kMaxBuildThreads = 64;

// How many threads, the caller's included, a build may run on.
inline int ThreadsOf(const BuildHelpers& helpers)
{
    return helpers.starter ? std::clamp(helpers.threads, 1, kMaxBuildThreads) : 1;
}

// Calls work(item) for every item, on at most helpers.threads threads (the
// caller's included; it works alone when no helper starts, or when even
// the list of helpers cannot be had). Returns once every item is done and
// every helper joined. Throws std::bad_alloc when some call of `work` ran
// out of memory; `work` must throw nothing else.
inline void ParallelFor(const BuildHelpers& helpers, std::size_t count, const std::function<void(std::size_t)>& work)
{
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
