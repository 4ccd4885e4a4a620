// What the worker threads of both generations share: the stack each is
// started with, and the failure of a start.
#pragma once

#include <cstddef>
#include <stdexcept>

namespace dunsmere {

// A worker's stack. Workers keep their large buffers on the heap, but a
// POSIX thread needs at least 16 KiB, so the size is not cut to the bone.
inline constexpr std::size_t kWorkerStackBytes = std::size_t{1} << 20;

inline constexpr const char* kThreadStartFailure = "Failed _beginthread call";

// Thrown when a worker thread cannot be started. Threads started before it
// keep running.
class ThreadStartError : public std::runtime_error {
public:
    ThreadStartError() : std::runtime_error(kThreadStartFailure) {}
};

}  // namespace dunsmere
