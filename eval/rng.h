// The classic C runtime generator, written out so that every platform draws
// the same sequence: state starts at 1, each draw steps
// state = state * 214013 + 2531011 (mod 2^32) and returns bits 16..30.
// Never restarted. Each worker thread owns one; nothing is shared.
#pragma once

#include <cstdint>

namespace dunsmere {

class CrtRand {
public:
    static constexpr int kMax = 0x7FFF;
    static constexpr std::uint32_t kMultiplier = 214013u;
    static constexpr std::uint32_t kIncrement = 2531011u;

    int Next()
    {
        state_ = state_ * kMultiplier + kIncrement;
        return static_cast<int>((state_ >> 16) & 0x7FFFu);
    }

    // The generator as it stands after `draws` draws from the start, in
    // logarithmic time: a draw is the affine step x -> a x + c, and steps
    // compose as affine maps do, so the step is squared bit by bit of
    // `draws`. The state has period 2^32, so only the low 32 bits count.
    static CrtRand After(std::uint64_t draws)
    {
        std::uint32_t a = 1u, c = 0u;                  // the composed map so far
        std::uint32_t stepA = kMultiplier, stepC = kIncrement;  // 2^k draws
        for (std::uint32_t n = static_cast<std::uint32_t>(draws); n != 0; n >>= 1) {
            if (n & 1u) {
                a = a * stepA;
                c = c * stepA + stepC;
            }
            stepC = stepC * stepA + stepC;
            stepA = stepA * stepA;
        }
        CrtRand r;
        r.state_ = a * r.state_ + c;
        return r;
    }

private:
    std::uint32_t state_ = 1;
};

}  // namespace dunsmere
