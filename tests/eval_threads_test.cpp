#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

#include "eval/detail/threads.h"
#include "scripted_host.h"
#include "scripted_threads.h"

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
    WaitForWorkers(host, t, lock);
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
    delete arg;
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
    WaitForWorkers(host, t, d.lock);
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
    delete arg;
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
    WaitForWorkers(host, t, lock);
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
    WaitForWorkers(host, t, lock);
    EXPECT_EQ(t.RunningCount(), 0);
    EXPECT_EQ(starter.joins, 1);
}

}  // namespace
