// Whether a test program can replace the global allocation functions: not
// under Clang's ThreadSanitizer, which links its own into the program. The
// tests that count or fail allocations skip there.
#pragma once

#include <atomic>

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DUNSMERE_ALLOCATION_FIXED 1
#endif
#endif
#ifndef DUNSMERE_ALLOCATION_FIXED
#define DUNSMERE_ALLOCATION_FIXED 0
#endif

inline constexpr bool kAllocationReplaceable = !DUNSMERE_ALLOCATION_FIXED;

// Armed by a test with N, the Nth allocation from then on that would throw
// fails, on whichever thread makes it; 0 arms nothing. A program's
// TestAllocate asks FailsThisThrowingAllocation.
inline std::atomic<long> gFailThrowingAllocation{0};
inline bool FailsThisThrowingAllocation()
{
    long n = gFailThrowingAllocation.load();
    while (n > 0 && !gFailThrowingAllocation.compare_exchange_weak(n, n - 1)) {
    }
    return n == 1;
}
