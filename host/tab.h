// The host's counted, growable array. Element access is index-checked: a bad
// index is reported through assert1 (source "Tab") and the access is not
// made; the caller receives a reference to a scratch element instead.
#pragma once

#include <utility>
#include <vector>

#include "host/runtime.h"

inline constexpr int kTabCheckLine = 1;
inline constexpr const char* kTabSource = "Tab";

template <class T>
class Tab {
public:
    int Count() const { return static_cast<int>(items_.size()); }

    // Sets the count, keeping the elements below both counts; new elements
    // are value-initialised. The storage is kept when the count shrinks.
    void SetCount(int n) { items_.resize(n > 0 ? static_cast<size_t>(n) : 0u); }
    void ZeroCount() { items_.clear(); }
    // Releases the storage as well as the elements.
    void Release() { std::vector<T>().swap(items_); }
    size_t Capacity() const { return items_.capacity(); }

    void Append(const T& value) { items_.push_back(value); }

    T& operator[](int i)
    {
        if (i < 0 || i >= Count()) return Scratch();
        return items_[static_cast<size_t>(i)];
    }
    const T& operator[](int i) const
    {
        if (i < 0 || i >= Count()) return Scratch();
        return items_[static_cast<size_t>(i)];
    }

    // Unchecked contiguous view for loops that have checked their bounds once.
    const T* Data() const { return items_.data(); }
    T* Data() { return items_.data(); }

private:
    static T& Scratch()
    {
        assert1(kTabCheckLine, kTabSource);
        thread_local T scratch{};
        scratch = T{};
        return scratch;
    }

    std::vector<T> items_;
};

// The host's table-storage helpers, as the system names them.
template <class T>
void TBSetCount(Tab<T>& tab, int n) { tab.SetCount(n); }
template <class T>
void zfree(Tab<T>& tab) { tab.Release(); }
