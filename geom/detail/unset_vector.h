// A vector whose new elements are left unset instead of zeroed, for the
// build's large arrays that are filled in full, side by side, right after
// they are sized: each thread then first touches the pages it fills, where
// sizing them zeroed would have the calling thread touch them all alone.
//
// Only for types with no more to their life than their bytes; an element
// must be written before it is read.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace dunsmere {

template <class T>
struct UnsetAllocator : std::allocator<T> {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    template <class U>
    struct rebind {
        using other = UnsetAllocator<U>;
    };
    UnsetAllocator() = default;
    template <class U>
    UnsetAllocator(const UnsetAllocator<U>&) noexcept  // NOLINT: converts as std::allocator does
    {
    }
    // What growing without a value makes: nothing.
    template <class U>
    void construct(U*) noexcept
    {
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

template <class T>
using UnsetVector = std::vector<T, UnsetAllocator<T>>;

}  // namespace dunsmere
