#include "eval/run_engine.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "eval/detail/threads.h"

namespace dunsmere {

namespace {

std::int64_t ChunksIn(std::int64_t length, std::int64_t chunkLength)
{
    return length > 0 ? (length + chunkLength - 1) / chunkLength : 0;
}

class Engine;

class Seat final : public WorkerSeat {
public:
    Engine* engine = nullptr;
    int index = 0;
    bool given = false;  // the two-thread split's one chunk

    bool NextChunk(WorkChunk& chunk) override;
    bool Chunked() const override;
    bool Cancelled() const override;
    void Cancel() override;
    void AddDone(int items) override;
};

void EngineEntry(void* p);

class Engine {
public:
    Engine(const BakeHooks& runHooks, RunWork& runWork, const RunPlan& runPlan)
        : hooks(runHooks), work(runWork), plan(runPlan), tracker(&EngineEntry, *runHooks.starter),
          chunked(!IsTwoThreadSplit(plan.threads))
    {
        int threads = std::clamp(plan.threads, 1, kMaxWorkerThreads);
        const std::int64_t chunkLength = std::max<std::int64_t>(plan.chunkLength, 1);
        chunks[0] = ChunksIn(plan.length[0], chunkLength);
        chunks[1] = ChunksIn(plan.length[1], chunkLength);
        // No more threads than chunks: an idle thread costs a start for nothing.
        if (chunked) threads = static_cast<int>(std::min<std::int64_t>(threads, chunks[0] + chunks[1]));
        seats.resize(static_cast<std::size_t>(threads));
        for (int i = 0; i < threads; ++i) {
            seats[static_cast<std::size_t>(i)].engine = this;
            seats[static_cast<std::size_t>(i)].index = i;
        }
        tracker.SetTotal(plan.totalItems);
        tracker.SetItemsDone(0);
        tracker.SetThreadCount(threads);
    }

    // Chunk k of the interleaved order: the sequences alternate while both
    // have chunks left, then the longer one goes on alone.
    bool Chunk(std::int64_t k, WorkChunk& chunk) const
    {
        const std::int64_t both = std::min(chunks[0], chunks[1]);
        std::int64_t index = 0;
        if (k < 2 * both) {
            chunk.sequence = static_cast<int>(k % 2);
            index = k / 2;
        } else {
            chunk.sequence = chunks[0] > chunks[1] ? 0 : 1;
            index = both + (k - 2 * both);
            if (index >= chunks[chunk.sequence]) return false;
        }
        const std::int64_t chunkLength = std::max<std::int64_t>(plan.chunkLength, 1);
        chunk.begin = index * chunkLength;
        chunk.end = std::min(chunk.begin + chunkLength, plan.length[chunk.sequence]);
        return true;
    }

    bool Next(Seat& seat, WorkChunk& chunk)
    {
        if (!chunked) {
            if (seat.given) return false;
            seat.given = true;
            chunk.sequence = seat.index == 0 ? plan.firstStarted : 1 - plan.firstStarted;
            chunk.begin = 0;
            chunk.end = plan.length[chunk.sequence];
            return true;
        }
        if (tracker.IsCancelled()) return false;
        return Chunk(next.fetch_add(1), chunk);
    }

    const BakeHooks& hooks;
    RunWork& work;
    const RunPlan plan;
    ThreadTracker tracker;
    const bool chunked;
    std::int64_t chunks[2] = {0, 0};
    std::atomic<std::int64_t> next{0};
    std::vector<Seat> seats;
};

bool Seat::NextChunk(WorkChunk& chunk) { return engine->Next(*this, chunk); }
bool Seat::Chunked() const { return engine->chunked; }
bool Seat::Cancelled() const { return engine->tracker.IsCancelled(); }
void Seat::Cancel() { engine->tracker.SetCancel(1); }
void Seat::AddDone(int items) { engine->tracker.AddDone(items); }

void EngineEntry(void* p)
{
    WorkerArg* arg = static_cast<WorkerArg*>(p);
    Engine& engine = *static_cast<Engine*>(arg->run);
    engine.work.Work(engine.seats[static_cast<std::size_t>(arg->index)]);
    // Once the flag is set the run may end and the engine go: the hooks are
    // the caller's, joined before they go, and the wake touches nothing of
    // the run.
    const BakeHooks& hooks = engine.hooks;
    arg->tracker->SetDone(arg->index, 1);
    hooks.wake();
}

}  // namespace

RunResult RunWorkers(const BakeHooks& hooks, std::mutex& workLock, RunWork& work, const RunPlan& plan)
{
    RunResult result;
    std::unique_ptr<Engine> engine;
    try {
        engine = std::make_unique<Engine>(hooks, work, plan);
    } catch (const std::bad_alloc&) {
        result.outOfMemory = true;
        result.cancelled = true;
        return result;
    }
    try {
        engine->tracker.Start(engine.get());
    } catch (const ThreadStartError&) {
        // Stop the threads that did start before anything is released.
        result.startFailed = true;
        engine->tracker.SetCancel(1);
    }
    WaitForWorkers(hooks, engine->tracker, workLock, &work);
    result.cancelled = engine->tracker.IsCancelled();
    return result;
}

}  // namespace dunsmere
