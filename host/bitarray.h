// The host's bit array: one bit per element, sized explicitly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class BitArray {
public:
    BitArray() = default;
    explicit BitArray(int n) { SetSize(n); }

    int GetSize() const { return size_; }
    // Resizes; with keep the bits below both sizes stay, otherwise all clear.
    void SetSize(int n, bool keep = false)
    {
        if (n < 0) n = 0;
        if (!keep) words_.assign(WordCount(n), 0);
        else words_.resize(WordCount(n), 0);
        size_ = n;
        TrimTail();
    }

    // Out-of-range indices read as clear and are ignored when written.
    bool operator[](int i) const
    {
        return i >= 0 && i < size_ && ((words_[Word(i)] >> Bit(i)) & 1u) != 0;
    }
    void Set(int i)
    {
        if (i >= 0 && i < size_) words_[Word(i)] |= std::uint64_t{1} << Bit(i);
    }
    void Set(int i, bool on) { on ? Set(i) : Clear(i); }
    void Clear(int i)
    {
        if (i >= 0 && i < size_) words_[Word(i)] &= ~(std::uint64_t{1} << Bit(i));
    }
    void SetAll() { words_.assign(words_.size(), ~std::uint64_t{0}); TrimTail(); }
    void ClearAll() { words_.assign(words_.size(), 0); }

    int NumberSet() const
    {
        int n = 0;
        for (std::uint64_t w : words_) n += __builtin_popcountll(w);
        return n;
    }

    bool operator==(const BitArray&) const = default;

private:
    static std::size_t WordCount(int n) { return (static_cast<std::size_t>(n) + 63u) / 64u; }
    static std::size_t Word(int i) { return static_cast<std::size_t>(i) / 64u; }
    static unsigned Bit(int i) { return static_cast<unsigned>(i) % 64u; }
    void TrimTail()
    {
        if (size_ % 64 != 0 && !words_.empty())
            words_.back() &= (std::uint64_t{1} << (size_ % 64)) - 1u;
    }

    std::vector<std::uint64_t> words_;
    int size_ = 0;
};
