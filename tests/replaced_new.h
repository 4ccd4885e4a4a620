// The global allocation functions of a test program, all routed through one
// function of the including file: `void* TestAllocate(std::size_t) noexcept`,
// declared before this is included, returning null for a failed allocation.
// Included once per program; memory is malloc's, so free releases it.
#pragma once

#include <cstdlib>
#include <new>

void* operator new(std::size_t size)
{
    if (void* p = TestAllocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    if (void* p = TestAllocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return TestAllocate(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
