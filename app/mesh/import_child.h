// Running an importer where it cannot hurt the command: in a forked child
// process under limits on its memory, CPU time and stack, its answer coming
// back through a pipe. Whatever the child does (crash, abort, overflow its
// stack, spin, allocate without end, block) ends as one of the outcomes
// below; the parent's own stack and heap never see the importer.
//
// Linux only: the child dies with its parent (PR_SET_PDEATHSIG), so a
// command killed outright leaves no importer behind.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace dunsmere {

// The limits for one import. The memory limit is on top of what the child
// has mapped at the fork, which it shares with the command.
struct ImportLimits {
    std::uint64_t memoryBytes = 0;
    std::uint64_t cpuSeconds = 0;
    std::uint64_t stackBytes = 0;
    // The parent's own guard, for a child that is blocked rather than busy.
    std::uint64_t wallSeconds = 0;
};

// For a file of FILE_BYTES: memory 1 GiB + 64 x the file size, at most
// 16 GiB; CPU 10 s + 2 s per MiB (rounded up to a whole second); stack
// 64 MiB; each multiplied by FACTOR (>= 1) once the cap is applied. The wall
// clock allows three times the CPU time.
ImportLimits ImportLimitsFor(std::uint64_t fileBytes, double factor);

enum class ChildEnd {
    kAnswered,     // the work returned; its bytes are in ChildResult::answer
    kCrashed,      // killed by a signal, aborted, or exited otherwise
    kOutOfMemory,  // an allocation failed under the memory limit
    kTookTooLong,  // past the CPU limit or the wall clock
    kCancelled,    // CANCELLED answered true; the child was killed
};

struct ChildResult {
    ChildEnd end = ChildEnd::kCrashed;
    std::string answer;  // what the work returned, as read; only for kAnswered
};

// Runs WORK in a child under LIMITS, on a thread whose stack is
// LIMITS.stackBytes, and returns what it returned. WORK reports its own
// errors in its answer: an exception out of it is a crash, std::bad_alloc
// running out of memory. The parent polls CANCELLED (when given) about
// twenty times a second while it waits. An answer longer than
// LIMITS.memoryBytes, which no child under that limit can have built, is
// cut there and the child killed, leaving the decoder a stream it refuses.
// Throws std::system_error when no child can be started.
// Forks: call it while no other thread of the process is running (the
// command loads its meshes before any worker starts).
ChildResult RunInChild(const ImportLimits& limits, bool (*cancelled)(), const std::function<std::string()>& work);

}  // namespace dunsmere
