// The classic C runtime generator, written out so that every platform draws
// the same sequence: state starts at 1, each draw steps
// state = state * 214013 + 2531011 (mod 2^32) and returns bits 16..30.
// Never reseeded. Each worker thread owns one; nothing is shared.
#pragma once

#include <cstdint>

class CrtRand {
public:
    static constexpr int kMax = 0x7FFF;

    int Next()
    {
        state_ = state_ * 214013u + 2531011u;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

private:
    std::uint32_t state_ = 1;
};
