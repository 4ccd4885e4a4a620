// Gradient noise on the integer lattice (Perlin's improved scheme): a fixed
// permutation picks one of twelve edge gradients per lattice point, and a
// quintic fade blends the eight corner contributions. The permutation is
// shuffled once by a fixed linear congruential sequence, so the function is
// the same on every machine. All arithmetic is single precision.
#include "host/noise.h"

#include <array>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::array<std::uint8_t, 512> MakePermutation()
{
    std::array<std::uint8_t, 256> p{};
    for (int i = 0; i < 256; ++i) p[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
    std::uint32_t state = 1;
    for (int i = 255; i > 0; --i) {
        state = state * 214013u + 2531011u;
        const int j = static_cast<int>((state >> 16) & 0x7FFFu) % (i + 1);
        const std::uint8_t t = p[static_cast<size_t>(i)];
        p[static_cast<size_t>(i)] = p[static_cast<size_t>(j)];
        p[static_cast<size_t>(j)] = t;
    }
    std::array<std::uint8_t, 512> twice{};
    for (size_t i = 0; i < 512; ++i) twice[i] = p[i & 255u];
    return twice;
}

constexpr std::array<std::uint8_t, 512> kPerm = MakePermutation();

float Fade(float t) { return t * t * t * (t * (t * 6.0f - 15.0f) + 10.0f); }
float Lerp(float t, float a, float b) { return a + t * (b - a); }

float Grad(int hash, float x, float y, float z)
{
    const int h = hash & 15;
    const float u = h < 8 ? x : y;
    const float v = h < 4 ? y : (h == 12 || h == 14 ? x : z);
    return ((h & 1) == 0 ? u : -u) + ((h & 2) == 0 ? v : -v);
}

int Perm(int i) { return kPerm[static_cast<size_t>(i & 511)]; }

}  // namespace

float noise3(const Point3& p)
{
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return 0.0f;
    const float fx = std::floor(p.x), fy = std::floor(p.y), fz = std::floor(p.z);
    // Lattice cells repeat every 256 units; reduce in double so huge
    // coordinates never overflow the integer conversion.
    const int X = static_cast<int>(std::fmod(static_cast<double>(fx), 256.0) + 256.0) & 255;
    const int Y = static_cast<int>(std::fmod(static_cast<double>(fy), 256.0) + 256.0) & 255;
    const int Z = static_cast<int>(std::fmod(static_cast<double>(fz), 256.0) + 256.0) & 255;
    const float x = p.x - fx, y = p.y - fy, z = p.z - fz;
    const float u = Fade(x), v = Fade(y), w = Fade(z);

    const int A = Perm(X) + Y, AA = Perm(A) + Z, AB = Perm(A + 1) + Z;
    const int B = Perm(X + 1) + Y, BA = Perm(B) + Z, BB = Perm(B + 1) + Z;

    return Lerp(w,
                Lerp(v, Lerp(u, Grad(Perm(AA), x, y, z), Grad(Perm(BA), x - 1.0f, y, z)),
                     Lerp(u, Grad(Perm(AB), x, y - 1.0f, z), Grad(Perm(BB), x - 1.0f, y - 1.0f, z))),
                Lerp(v,
                     Lerp(u, Grad(Perm(AA + 1), x, y, z - 1.0f), Grad(Perm(BA + 1), x - 1.0f, y, z - 1.0f)),
                     Lerp(u, Grad(Perm(AB + 1), x, y - 1.0f, z - 1.0f),
                          Grad(Perm(BB + 1), x - 1.0f, y - 1.0f, z - 1.0f))));
}
