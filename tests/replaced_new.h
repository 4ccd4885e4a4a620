// The global allocation functions of a test program, all routed through one
// function of the including file, declared before this is included:
// `void* TestAllocate(std::size_t size, bool nothrow) noexcept`, returning
// null for a failed allocation. Included once per program; memory is
// malloc's, so free releases it. Where the program cannot replace them
// (allocation_replaceable.h) this defines nothing.
#pragma once

#include <cstdlib>
#include <new>

#include "allocation_replaceable.h"

#if !DUNSMERE_ALLOCATION_FIXED
// The replacements pair malloc with free themselves; the compiler cannot see that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size)
{
    if (void* p = TestAllocate(size, false)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = TestAllocate(size, false)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size, true); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
#endif
