// Whether a test program can replace the global allocation functions: not
// under Clang's ThreadSanitizer, which links its own into the program. The
// tests that count or fail allocations skip there.
#pragma once

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DUNSMERE_ALLOCATION_FIXED 1
#endif
#endif
#ifndef DUNSMERE_ALLOCATION_FIXED
#define DUNSMERE_ALLOCATION_FIXED 0
#endif

inline constexpr bool kAllocationReplaceable = !DUNSMERE_ALLOCATION_FIXED;
