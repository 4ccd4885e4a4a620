#include "sphere_obj.h"

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace {

constexpr double kRadius = 10.0;
constexpr int kWaves = 12;
// Of each chart's cell in the atlas, kept free on every side.
constexpr double kChartMargin = 0.02;

struct Wave {
    double axis[3];
    double frequency, phase, amplitude;
};

// Uniform in [0, 1) from the generator's raw bits: the standard
// distributions are free to differ between libraries.
double Unit(std::mt19937& rng) { return static_cast<double>(rng() >> 8) / 16777216.0; }

std::vector<Wave> MakeWaves()
{
    std::mt19937 rng(kSphereWaves);
    std::vector<Wave> waves(kWaves);
    for (int k = 0; k < kWaves; ++k) {
        Wave& w = waves[static_cast<size_t>(k)];
        double len = 0.0;
        do {
            for (double& a : w.axis) a = 2.0 * Unit(rng) - 1.0;
            len = std::sqrt(w.axis[0] * w.axis[0] + w.axis[1] * w.axis[1] + w.axis[2] * w.axis[2]);
        } while (len < 0.1 || len > 1.0);
        for (double& a : w.axis) a /= len;
        // Broad swells first, then ever finer ripples of smaller height.
        w.frequency = 2.0 + 3.0 * k + 2.0 * Unit(rng);
        w.phase = 6.283185307179586 * Unit(rng);
        w.amplitude = 0.12 / (1.0 + 0.5 * k);
    }
    return waves;
}

// A point of the cube's integer lattice (each coordinate 0..n) on the
// displaced sphere. Shared corners of two sides come out identical.
void Place(const std::vector<Wave>& waves, int n, const int lattice[3], double out[3])
{
    double d[3];
    for (int a = 0; a < 3; ++a) d[a] = std::tan(0.7853981633974483 * (2.0 * lattice[a] / n - 1.0));
    const double len = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double& c : d) c /= len;
    double r = 1.0;
    for (const Wave& w : waves)
        r += w.amplitude * std::sin(w.frequency * (w.axis[0] * d[0] + w.axis[1] * d[1] + w.axis[2] * d[2]) + w.phase);
    for (int a = 0; a < 3; ++a) out[a] = kRadius * r * d[a];
}

// The float the reader will hold, widened back for printing: %.9g gives
// back exactly that float.
double AsFloat(double x) { return static_cast<double>(static_cast<float>(x)); }

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int SphereSubdivision(int triangles)
{
    const int n = static_cast<int>(std::lround(std::sqrt(triangles / 12.0)));
    return n < 1 ? 1 : n;
}

void WriteSphereObj(const std::string& path, int n)
{
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "w"));
    if (!file) throw std::runtime_error("cannot write " + path);
    std::FILE* f = file.get();
    const std::vector<Wave> waves = MakeWaves();
    std::fprintf(f, "# displaced sphere, %d x %d per cube side, waves %u\no sphere\n", n, n, kSphereWaves);

    // Vertices by lattice point, shared between sides; texture vertices per
    // side, numbered side by side.
    const long long side = n + 1;
    std::unordered_map<long long, int> vertexOf;
    vertexOf.reserve(static_cast<size_t>(6 * side * side));
    std::vector<int> sideVertex(static_cast<size_t>(6 * side * side));
    for (int s = 0; s < 6; ++s) {
        const int axis = s / 2, u = (axis + 1) % 3, v = (axis + 2) % 3;
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                int lattice[3];
                lattice[axis] = s % 2 ? n : 0;
                lattice[u] = i;
                lattice[v] = j;
                const long long key = (lattice[0] * side + lattice[1]) * side + lattice[2];
                auto [it, fresh] = vertexOf.try_emplace(key, static_cast<int>(vertexOf.size()) + 1);
                if (fresh) {
                    double p[3];
                    Place(waves, n, lattice, p);
                    std::fprintf(f, "v %.9g %.9g %.9g\n", AsFloat(p[0]), AsFloat(p[1]), AsFloat(p[2]));
                }
                sideVertex[static_cast<size_t>((s * side + j) * side + i)] = it->second;
                const int column = s % 3, row = s / 3;
                const double span = 1.0 - 2.0 * kChartMargin;
                std::fprintf(f, "vt %.9g %.9g\n",
                             AsFloat((column + kChartMargin + span * i / n) / 3.0),
                             AsFloat((row + kChartMargin + span * j / n) / 2.0));
            }
    }

    std::fprintf(f, "s 1\n");
    for (int s = 0; s < 6; ++s) {
        // u x v is +axis; the low side of each axis turns its faces round
        // so that every face looks outwards.
        const bool flip = s % 2 == 0;
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const long long c[4] = {(s * side + j) * side + i, (s * side + j) * side + i + 1,
                                        (s * side + j + 1) * side + i + 1, (s * side + j + 1) * side + i};
                const int tri[2][3] = {{0, 1, 2}, {0, 2, 3}};
                for (const auto& t : tri) {
                    const int order[3] = {t[0], flip ? t[2] : t[1], flip ? t[1] : t[2]};
                    std::fprintf(f, "f");
                    for (int k : order)
                        std::fprintf(f, " %d/%lld", sideVertex[static_cast<size_t>(c[k])], c[k] + 1);
                    std::fprintf(f, "\n");
                }
            }
    }
    if (std::ferror(f) || std::fflush(f) != 0) throw std::runtime_error("cannot write " + path);
}
