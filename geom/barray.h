// BArray: a two-dimensional array whose element accesses are index-checked,
// one growable array per outer index. BArray1D: its unchecked 1-D companion.
//
// Indices are unsigned, so a negative index converted to unsigned is out of
// range. A failed check is reported through assert1 with the source "BArray"
// and the access is not made: Get returns a reference to a per-thread scratch
// element and Set writes nothing.
//
// No locking: callers decide who may touch which element when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/runtime.h"

namespace dunsmere {

// A host's assertion log identifies a check by its source name and line,
// so these numbers are part of the interface, not positions in this file:
// they stay when the code moves.
inline constexpr const char* kBArraySource = "BArray";
inline constexpr int kBArraySetOuterLine = 132;
inline constexpr int kBArraySetInnerLine = 133;
inline constexpr int kBArrayGetOuterLine = 143;
inline constexpr int kBArrayGetInnerLine = 144;

template <class T>
class BArray {
public:
    BArray() = default;
    virtual ~BArray() = default;
    BArray(const BArray&) = default;
    BArray& operator=(const BArray&) = default;

    // Sets the outer count, then every inner array's length. Elements that
    // exist at both sizes keep their values; new ones are copies of fill.
    void Resize(std::uint32_t outerCount, std::uint32_t innerCount, const T& fill)
    {
        rows_.resize(outerCount);
        for (std::vector<T>& inner : rows_) inner.resize(innerCount, fill);
    }

    // Resize and Fill in one pass: the given counts, every element fill.
    void Reset(std::uint32_t outerCount, std::uint32_t innerCount, const T& fill)
    {
        Reset(outerCount, innerCount, fill, [](std::size_t count, const auto& work) {
            for (std::size_t i = 0; i < count; ++i) work(i);
        });
    }

    // The same, the inner arrays filled by forEach(count, work), which calls
    // work(i) once for every i below count, on any thread: a large grid's
    // pages are then first touched by the threads that share out the fill.
    template <class ForEach>
    void Reset(std::uint32_t outerCount, std::uint32_t innerCount, const T& fill, const ForEach& forEach)
    {
        rows_.resize(outerCount);
        forEach(std::size_t{outerCount}, [&](std::size_t i) { rows_[i].assign(innerCount, fill); });
    }

    void Fill(const T& value)
    {
        for (std::vector<T>& inner : rows_) inner.assign(inner.size(), value);
    }

    void Set(std::uint32_t i, std::uint32_t j, const T& value)
    {
        if (i >= OuterCount()) { assert1(kBArraySetOuterLine, kBArraySource); return; }
        std::vector<T>& inner = rows_[i];
        if (j >= inner.size()) { assert1(kBArraySetInnerLine, kBArraySource); return; }
        inner[j] = value;
    }

    T& Get(std::uint32_t i, std::uint32_t j)
    {
        if (i >= OuterCount()) { assert1(kBArrayGetOuterLine, kBArraySource); return Scratch(); }
        std::vector<T>& inner = rows_[i];
        if (j >= inner.size()) { assert1(kBArrayGetInnerLine, kBArraySource); return Scratch(); }
        return inner[j];
    }
    const T& Get(std::uint32_t i, std::uint32_t j) const { return const_cast<BArray*>(this)->Get(i, j); }

    std::uint32_t OuterCount() const { return static_cast<std::uint32_t>(rows_.size()); }
    // Unchecked: callers pass an index below OuterCount() (0 for the inner size).
    std::uint32_t InnerCount(std::uint32_t i) const { return static_cast<std::uint32_t>(rows_[i].size()); }

    // Unchecked view of inner array i, for loops that checked their bounds once.
    const T* Inner(std::uint32_t i) const { return rows_[i].data(); }
    T* Inner(std::uint32_t i) { return rows_[i].data(); }

private:
    static T& Scratch()
    {
        thread_local T scratch{};
        scratch = T{};
        return scratch;
    }

    std::vector<std::vector<T>> rows_;
};

template <class T>
class BArray1D {
public:
    BArray1D() = default;
    virtual ~BArray1D() = default;
    BArray1D(const BArray1D&) = default;
    BArray1D& operator=(const BArray1D&) = default;

    // Grows by appending copies of fill, or shrinks by dropping the tail.
    void Resize(std::uint32_t count, const T& fill) { items_.resize(count, fill); }

    // Unchecked: the caller keeps the index below Count().
    T& operator[](std::uint32_t i) { return items_[i]; }
    const T& operator[](std::uint32_t i) const { return items_[i]; }
    std::uint32_t Count() const { return static_cast<std::uint32_t>(items_.size()); }

private:
    std::vector<T> items_;
};

}  // namespace dunsmere
