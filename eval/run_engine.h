// The worker threads of a generation's run.
//
// A generation describes its work as two item sequences, those of the two
// workers it was designed around (the even and the odd faces, the even and
// the odd rows), and the engine runs them on as many threads as the host
// allows. With two threads each takes one whole sequence, the first started
// taking the plan's firstStarted. With any other count the sequences are cut
// into chunks that the threads take in turn, interleaved so that the front
// of both sequences is worked first; a generation whose results depend on a
// worker's position in its sequence (the map's draws) places each chunk
// itself. The engine holds the done flags, the cancel flag and the items
// counter, and the user-interface thread's wait.
#pragma once

#include <cstdint>
#include <mutex>

#include "eval/bake_hooks.h"

namespace dunsmere {

// Positions [begin, end) of one sequence.
struct WorkChunk {
    int sequence = 0;
    std::int64_t begin = 0;
    std::int64_t end = 0;
};

// What a worker thread sees of its run.
class WorkerSeat {
public:
    // The next chunk to work; false once there is none.
    virtual bool NextChunk(WorkChunk& chunk) = 0;
    // False in the two-thread split, where a chunk is a whole sequence.
    virtual bool Chunked() const = 0;
    // Polled without a lock before every item.
    virtual bool Cancelled() const = 0;
    // Stops every thread of the run at its next item.
    virtual void Cancel() = 0;
    // Counts finished items; the caller holds the run's workLock.
    virtual void AddDone(int items) = 0;

protected:
    ~WorkerSeat() = default;
};

// A generation's side of a run.
class RunWork {
public:
    // Runs on each worker thread until the seat has no chunk left, or the
    // run is cancelled. Must not throw.
    virtual void Work(WorkerSeat& seat) = 0;
    // The bar's percentage, on the user-interface thread under workLock;
    // `itemShare` is the items counted done over the plan's total, 0..1.
    virtual int ProgressPercent(float itemShare) = 0;

protected:
    ~RunWork() = default;
};

struct RunPlan {
    int threads = 2;                  // the hooks' workerCount, as a rule
    std::int64_t length[2] = {0, 0};  // positions in each sequence
    int firstStarted = 0;             // the sequence of the thread started first, two threads
    std::int64_t chunkLength = 1;     // positions per chunk, other counts
    int totalItems = 0;               // what the items counter counts towards
};

struct RunResult {
    bool startFailed = false;  // a thread could not be started; the others were stopped
    bool outOfMemory = false;  // the run's own bookkeeping could not be had; nothing ran
    bool cancelled = false;
};

inline constexpr int kMaxWorkerThreads = 256;

// Two threads run the sequences whole, one each; any other count chunks them.
inline bool IsTwoThreadSplit(int threads) { return threads == 2; }

// Starts the run's threads with the hooks' starter, waits for them on the
// calling (user-interface) thread, moving the bar and forwarding a cancel
// request through the hooks every 500 ms or when a thread ends, and joins
// them. A thread that cannot be started cancels the run; the threads that
// did start are waited for.
RunResult RunWorkers(const BakeHooks& hooks, std::mutex& workLock, RunWork& work, const RunPlan& plan);

}  // namespace dunsmere
