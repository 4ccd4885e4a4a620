#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "eval/detail/threads.h"
#include "eval/eval.h"
#include "scripted_host.h"
#include "scripted_threads.h"

using namespace dunsmere;

namespace {

TEST(ThreadTracker, ProgressIsClampedToUnitRange)
{
    ThreadTracker t(+[](void*) {});
    EXPECT_EQ(t.Progress(), 0.0f);  // 0 / 0
    t.SetTotal(4);
    t.SetItemsDone(1);
    EXPECT_EQ(t.Progress(), 0.25f);
    t.AddDone(9);
    EXPECT_EQ(t.Progress(), 1.0f);
    t.SetTotal(-3);
    EXPECT_EQ(t.Progress(), 0.0f);
}

TEST(ThreadTracker, CountSetWithoutStartHasNothingRunning)
{
    ThreadTracker t(+[](void*) {});
    t.SetThreadCount(2);
    EXPECT_EQ(t.ThreadCount(), 2);
    EXPECT_EQ(t.RunningCount(), 0);
    ScriptedHost host;
    std::mutex lock;
    WaitForWorkers(HostBakeHooks(host, DefaultThreadStarter()), t, lock);
    EXPECT_EQ(host.sleeps, 0);  // the test comes before the sleep
    EXPECT_TRUE(host.progress.empty());
}

// Each worker records the items it takes; thread t of 2 takes t, t+2, ...
struct Division {
    std::mutex lock;
    std::vector<std::vector<int>> taken{2};
    int total = 11;
};

void DivisionEntry(void* p)
{
    auto* arg = static_cast<WorkerArg*>(p);
    auto& d = *static_cast<Division*>(arg->run);
    const int k = arg->tracker->ThreadCount();
    for (int item = arg->index; item < d.total; item += k) {
        if (arg->tracker->IsCancelled()) break;
        std::lock_guard<std::mutex> g(d.lock);
        d.taken[static_cast<size_t>(arg->index)].push_back(item);
        arg->tracker->AddDone(1);
    }
    arg->tracker->SetDone(arg->index, 1);
}

TEST(ThreadTracker, TwoThreadsSplitItemsByParityAndReachFullProgress)
{
    Division d;
    ThreadTracker t(&DivisionEntry);
    t.SetTotal(d.total);
    t.SetItemsDone(0);
    t.SetThreadCount(2);
    t.Start(&d);
    ScriptedHost host;
    WaitForWorkers(HostBakeHooks(host, DefaultThreadStarter()), t, d.lock);
    EXPECT_EQ(t.RunningCount(), 0);
    EXPECT_EQ(d.taken[0], (std::vector<int>{0, 2, 4, 6, 8, 10}));
    EXPECT_EQ(d.taken[1], (std::vector<int>{1, 3, 5, 7, 9}));
    EXPECT_EQ(t.Progress(), 1.0f);
    for (int p : host.progress) EXPECT_LE(p, 90);
}

// Workers that hold until the user-interface thread has polled once.
struct Gate {
    std::atomic<bool> open{false};
    std::atomic<int> itemsDone{0};
};

void GatedEntry(void* p)
{
    auto* arg = static_cast<WorkerArg*>(p);
    auto& g = *static_cast<Gate*>(arg->run);
    while (!g.open.load()) std::this_thread::yield();
    for (int i = 0; i < 1000 && !arg->tracker->IsCancelled(); ++i) g.itemsDone.fetch_add(1);
    arg->tracker->SetDone(arg->index, 1);
}

TEST(ThreadTracker, CancelDuringTheWaitStillWaitsForBothThreads)
{
    Gate g;
    ThreadTracker t(&GatedEntry);
    t.SetThreadCount(2);
    t.Start(&g);
    ScriptedHost host;
    host.cancelAtQuery = 1;
    host.onCancelQuery = [&] { g.open.store(true); };
    std::mutex lock;
    WaitForWorkers(HostBakeHooks(host, DefaultThreadStarter()), t, lock);
    EXPECT_TRUE(t.IsCancelled());
    EXPECT_EQ(t.RunningCount(), 0);
    EXPECT_EQ(g.itemsDone.load(), 0);  // the flag was up before either took an item
    EXPECT_GE(host.sleeps, 1);
}

TEST(ThreadTracker, FailedSecondStartThrowsAndLeavesAWaitThatEnds)
{
    Gate g;
    GateStarter starter;
    starter.open = true;
    starter.failAt = 2;
    ThreadTracker t(&GatedEntry, starter);
    t.SetThreadCount(2);
    try {
        t.Start(&g);
        FAIL() << "Start should have thrown";
    } catch (const ThreadStartError& e) {
        EXPECT_STREQ(e.what(), "Failed _beginthread call");
    }
    EXPECT_EQ(t.RunningCount(), 1);  // only the thread that started
    t.SetCancel(1);
    g.open.store(true);
    ScriptedHost host;
    std::mutex lock;
    WaitForWorkers(HostBakeHooks(host, DefaultThreadStarter()), t, lock);
    EXPECT_EQ(t.RunningCount(), 0);
    EXPECT_EQ(starter.joins, 1);
}

// Stepped one draw at a time through the whole period, the generator must
// stand where the jump puts it at every checkpoint.
TEST(CrtRand, JumpingAheadLandsWhereSteppingDoes)
{
    const std::uint64_t checkpoints[] = {0,         1,          2,           3,           1000,       65535,
                                         65536,     1ull << 20, 123456789ull, 3000000001ull, (1ull << 32) - 1,
                                         1ull << 32};
    CrtRand stepped;
    std::uint64_t drawn = 0;
    for (std::uint64_t at : checkpoints) {
        for (; drawn < at; ++drawn) stepped.Next();
        CrtRand jumped = CrtRand::After(at), here = stepped;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(jumped.Next(), here.Next()) << "after " << at << " draws";
    }
}

// Both sequences' positions, each taken exactly once, on any thread count;
// two threads take one whole sequence each, the first started the plan's.
struct Taking final : RunWork {
    std::mutex lock;  // the run's workLock
    std::vector<std::vector<int>> taken{2};
    std::vector<int> chunksOfThread;
    void Work(WorkerSeat& seat) override
    {
        WorkChunk c;
        int chunks = 0;
        while (seat.NextChunk(c)) {
            ++chunks;
            std::lock_guard<std::mutex> g(lock);
            for (std::int64_t p = c.begin; p < c.end; ++p) taken[static_cast<size_t>(c.sequence)].push_back(static_cast<int>(p));
            seat.AddDone(static_cast<int>(c.end - c.begin));
        }
        std::lock_guard<std::mutex> g(lock);
        chunksOfThread.push_back(chunks);
    }
    int ProgressPercent(float share) override { return static_cast<int>(share * 90.0f); }
};

TEST(RunEngine, EveryPositionOnceOnAnyThreadCount)
{
    for (int threads : {1, 2, 3, 7, 64}) {
        ScriptedHost host;
        Taking work;
        RunPlan plan;
        plan.threads = threads;
        plan.length[0] = 23;
        plan.length[1] = 5;
        plan.firstStarted = 1;
        plan.chunkLength = 2;
        plan.totalItems = 28;
        const RunResult r = RunWorkers(HostBakeHooks(host, DefaultThreadStarter()), work.lock, work, plan);
        EXPECT_FALSE(r.cancelled || r.startFailed || r.outOfMemory);
        for (int s = 0; s < 2; ++s) {
            std::sort(work.taken[static_cast<size_t>(s)].begin(), work.taken[static_cast<size_t>(s)].end());
            std::vector<int> all(static_cast<size_t>(plan.length[s]));
            for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
            EXPECT_EQ(work.taken[static_cast<size_t>(s)], all) << threads << " threads";
        }
        // No idle threads beyond the 15 chunks; two threads, one chunk each.
        EXPECT_EQ(static_cast<int>(work.chunksOfThread.size()), threads == 64 ? 15 : threads);
        if (threads == 2) {
            EXPECT_EQ(work.chunksOfThread, (std::vector<int>{1, 1}));
        }
        EXPECT_EQ(host.progress.empty() ? 90 : host.progress.back(), 90);
    }
    ScriptedHost host;
    host.workerThreads = 500;
    EXPECT_EQ(WorkerThreadsFor(host), kMaxWorkerThreads);
    host.workerThreads = 0;
    EXPECT_EQ(WorkerThreadsFor(host), 2);  // a host with no say
}

TEST(RunEngine, WorkersThatFinishAtOnceEndTheWaitWithin20ms)
{
    struct Nothing final : RunWork {
        void Work(WorkerSeat&) override {}
        int ProgressPercent(float) override { return 0; }
    };
    for (int threads : {2, 3}) {
        // The workers start only once the wait is about to sleep.
        GateStarter starter;
        ScriptedHost host;
        host.wakes = true;
        host.onSleep = [&] { starter.open.store(true); };
        Nothing work;
        RunPlan plan;
        plan.threads = threads;
        plan.length[0] = plan.length[1] = 4;
        std::mutex lock;
        const auto start = std::chrono::steady_clock::now();
        RunWorkers(HostBakeHooks(host, starter), lock, work, plan);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(20)) << threads << " threads, " << host.sleeps << " sleeps";
        EXPECT_GE(host.sleeps, 1);
    }
}

// The last worker may begin on its starter's processor, but must not stay
// bound to it.
TEST(PlatformThreads, StartedBeforeAWaitRunsWhereverItsStarterMay)
{
    cpu_set_t starter, started;
    ASSERT_EQ(pthread_getaffinity_np(pthread_self(), sizeof starter, &starter), 0);
    CPU_ZERO(&started);
    ThreadHandle handle = 0;
    ASSERT_TRUE(DefaultThreadStarter().StartBeforeWait(
        [](void* set) { pthread_getaffinity_np(pthread_self(), sizeof(cpu_set_t), static_cast<cpu_set_t*>(set)); },
        &started, std::size_t{64} << 10, handle));
    DefaultThreadStarter().Join(handle);
    EXPECT_TRUE(CPU_EQUAL(&starter, &started)) << CPU_COUNT(&started) << " of " << CPU_COUNT(&starter);
}

}  // namespace
