// Bakes from a high-poly mesh through the command: against the mesh's own
// bake, on every thread count and route, with misses counted, mapped and
// judged, and with a cage against the distance it stands for.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/image/image_files.h"
#include "command_runner.h"
#include "file_bytes.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

// An OBJ from a grid of (u, v) in [0, 1]²: POINT places each grid point, and
// the map coordinates are (u, v) themselves. Quads are cut along one
// diagonal; SEAMS gives each quad its own smoothing group.
void WriteGrid(const std::string& path, int n, const std::function<std::array<double, 3>(double, double)>& point,
               bool seams = false)
{
    std::ofstream out(path);
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const auto p = point(double(i) / n, double(j) / n);
            out << "v " << p[0] << ' ' << p[1] << ' ' << p[2] << "\nvt " << double(i) / n << ' ' << double(j) / n
                << '\n';
        }
    out << (seams ? "" : "s 1\n");
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
            if (seams) out << "s " << (j * n + i) % 32 + 1 << '\n';
            out << "f " << a << '/' << a << ' ' << b << '/' << b << ' ' << c << '/' << c << "\nf " << a << '/' << a
                << ' ' << c << '/' << c << ' ' << d << '/' << d << '\n';
        }
}

// A bump of height 0.15 and radius about 0.1 at (0.3, 0.3) of a plane.
double Bump(double x, double y)
{
    const double r2 = (x - 0.3) * (x - 0.3) + (y - 0.3) * (y - 0.3);
    return 0.15 * std::exp(-r2 / 0.005);
}

std::vector<WORD> Levels(const std::string& png)
{
    RgbaImage16 image;
    EXPECT_TRUE(ReadImageFile16(png, image).ok) << png;
    std::vector<WORD> levels;
    for (const auto& p : image.pixels) levels.push_back(p.r);
    return levels;
}

class CommandHighLow : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--quiet"});
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    // The --json projection counts of a run that baked.
    nlohmann::json Projection(std::vector<std::string> args)
    {
        args.push_back("--json");
        const CommandResult r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        const nlohmann::json all = nlohmann::json::parse(r.out, nullptr, false);
        return all.is_array() && !all.empty() ? all[0].value("projection", nlohmann::json()) : nlohmann::json();
    }
    ScratchDir scratch;
    const std::string low = scratch / "low.obj", high = scratch / "high.obj";
};

// Two routes to one answer: a smooth closed mesh baked from an exact copy of
// itself, reached at once, is its own bake (within a level, for the few
// rounding steps the projection adds to a sample's point).
TEST_F(CommandHighLow, ACopyOfAMeshBakesAsTheMeshItself)
{
    WriteGrid(low, 24, [](double u, double v) {
        const double a = 2 * M_PI * u, b = 2 * M_PI * v, r = 1 + 0.4 * std::cos(b);
        return std::array<double, 3>{r * std::cos(a), r * std::sin(a), 0.4 * std::sin(b)};
    });
    const std::vector<std::string> common{low, "--size", "64x64", "--noise", "--noise-size", "0.3",
                                          "--distance-relative", "0.3"};
    auto self = common, copy = common;
    self.insert(self.end(), {"-o", scratch / "self.png"});
    copy.insert(copy.end(), {"--high", low, "--ray-distance-relative", "0.001", "-o", scratch / "copy.png"});
    ASSERT_EQ(Run(self).status, 0);
    EXPECT_EQ(Projection(copy)["missed"], 0);
    const std::vector<WORD> a = Levels(scratch / "self.png"), b = Levels(scratch / "copy.png");
    ASSERT_EQ(a.size(), b.size());
    int within = 0;
    for (size_t i = 0; i < a.size(); ++i) within += std::abs(int(a[i]) - int(b[i])) <= 1;
    EXPECT_GE(within, int(a.size() * 0.999));
}

// A flat quad has nothing to see; the bumpy plane under it shades it around
// the bump's foot, where the quad's map coordinates put the bump, the same
// bytes on any thread count and route.
TEST_F(CommandHighLow, ABumpShadesTheFlatQuadWhereItsCoordinatesSayOnEveryRoute)
{
    WriteGrid(low, 1, [](double u, double v) { return std::array<double, 3>{u, v, 0}; });
    WriteGrid(high, 96, [](double u, double v) {
        const double x = 2 * u - 0.5, y = 2 * v - 0.5;
        return std::array<double, 3>{x, y, Bump(x, y)};
    });
    const std::vector<std::string> common{low, "--size", "50x50", "--distance", "0.5", "--vertical", "2",
                                          "--padding", "0"};
    auto self = common;
    self.insert(self.end(), {"-o", scratch / "self.png"});
    ASSERT_EQ(Run(self).status, 0);
    for (WORD level : Levels(scratch / "self.png")) ASSERT_EQ(level, 0);

    std::vector<std::string> outputs;
    for (const std::vector<std::string>& how : std::vector<std::vector<std::string>>{
             {"--threads", "1"}, {"--threads", "2"}, {"--threads", "3"}, {"--threads", "2", "--plain"}}) {
        auto args = common;
        outputs.push_back(scratch / ("high" + std::to_string(outputs.size()) + ".png"));
        args.insert(args.end(), {"--high", high, "--ray-distance-relative", "0.2", "-o", outputs.back()});
        args.insert(args.end(), how.begin(), how.end());
        ASSERT_EQ(Run(args).status, 0);
        EXPECT_EQ(ReadAll(outputs.back()), ReadAll(outputs[0])) << how.back();
    }
    // Shaded near the bump's (u, v), open away from it. Rows run from the
    // top of the map.
    const std::vector<WORD> map = Levels(outputs[0]);
    WORD near = 0, far = 0;
    for (size_t i = 0; i < map.size(); ++i) {
        const double u = (double(i % 50) + 0.5) / 50, v = 1 - (double(i / 50) + 0.5) / 50;
        const double r = std::hypot(u - 0.3, v - 0.3);
        (r < 0.15 ? near : far) = std::max(r < 0.15 ? near : far, r < 0.15 || r > 0.35 ? map[i] : WORD{0});
    }
    EXPECT_GT(near, 2000);
    EXPECT_EQ(far, 0);
}

// Rays too short to reach the high mesh miss everywhere: counted, mapped
// white over the coverage, warned of, and a failure past --max-miss-share
// that still writes the map.
TEST_F(CommandHighLow, MissesAreCountedMappedAndJudged)
{
    WriteGrid(low, 2, [](double u, double v) { return std::array<double, 3>{u, v, 0}; });
    WriteGrid(high, 4, [](double u, double v) { return std::array<double, 3>{2 * u - 0.5, 2 * v - 0.5, -0.1}; });
    const std::vector<std::string> common{low, "--high", high, "--size", "50x50", "--ray-distance", "0.05",
                                          "--miss-map", scratch / "miss.png", "-o", scratch / "map.png"};
    const nlohmann::json counts = Projection(common);
    EXPECT_GT(counts["samples"], 2400);
    EXPECT_EQ(counts["missed"], counts["samples"]);
    const std::vector<WORD> misses = Levels(scratch / "miss.png");
    EXPECT_EQ(std::count(misses.begin(), misses.end(), WORD{65535}), counts["samples"]);

    auto judged = common;
    judged.insert(judged.end(), {"--max-miss-share", "0.5"});
    std::remove((scratch / "map.png").c_str());
    const CommandResult failed = Run(judged);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find(" samples missed (1), more than --max-miss-share 0.5"), std::string::npos) << failed.err;
    EXPECT_TRUE(std::ifstream(scratch / "map.png").good());
    // Reached, the same run passes the judge.
    auto reached = judged;
    reached.insert(reached.end(), {"--ray-distance", "0.15"});
    EXPECT_EQ(Run(reached).status, 0);
}

// Two routes to a miss map: antialiased, a texel holds the share of its
// block that missed, as a direct bake at the finer size counts it.
TEST_F(CommandHighLow, AnAntialiasedMissMapHoldsTheSharesOfTheFinerOne)
{
    WriteGrid(low, 1, [](double u, double v) { return std::array<double, 3>{u, v, 0}; });
    WriteGrid(high, 96, [](double u, double v) {
        const double x = 2 * u - 0.5, y = 2 * v - 0.5;
        return std::array<double, 3>{x, y, Bump(x, y)};
    });
    const nlohmann::json coarse = Projection({low, "--high", high, "--size", "64x64", "--supersample", "2",
                                              "--miss-map", scratch / "coarse.png", "-o", scratch / "a.png"});
    const nlohmann::json fine = Projection(
        {low, "--high", high, "--size", "128x128", "--miss-map", scratch / "fine.png", "-o", scratch / "b.png"});
    EXPECT_EQ(coarse, fine);
    EXPECT_GT(fine["missed"], 0);
    const std::vector<WORD> a = Levels(scratch / "coarse.png"), b = Levels(scratch / "fine.png");
    ASSERT_EQ(b.size(), 4 * a.size());
    for (size_t y = 0; y < 64; ++y)
        for (size_t x = 0; x < 64; ++x) {
            const int missed = (b[2 * y * 128 + 2 * x] > 0) + (b[2 * y * 128 + 2 * x + 1] > 0) +
                               (b[(2 * y + 1) * 128 + 2 * x] > 0) + (b[(2 * y + 1) * 128 + 2 * x + 1] > 0);
            ASSERT_EQ(a[y * 64 + x], 65535 * missed / 4) << x << ',' << y;
        }
}

// A box of six sides, N x N quads each, with POINT moving each grid point
// and each side its own cell of a 3 x 2 atlas; GROUPS gives each side its
// own smoothing group (hard edges), else one for all.
void WriteBox(const std::string& path, int n, const std::function<std::array<double, 3>(std::array<double, 3>)>& point,
              bool groups)
{
    using P = std::array<double, 3>;
    // Origin and the two directions whose cross product is the side's outside.
    const std::array<std::array<P, 3>, 6> sides{{{{{-1, -1, 1}, {2, 0, 0}, {0, 2, 0}}},
                                                 {{{-1, 1, -1}, {2, 0, 0}, {0, -2, 0}}},
                                                 {{{1, -1, -1}, {0, 2, 0}, {0, 0, 2}}},
                                                 {{{-1, -1, -1}, {0, 0, 2}, {0, 2, 0}}},
                                                 {{{-1, 1, -1}, {0, 0, 2}, {2, 0, 0}}},
                                                 {{{-1, -1, -1}, {2, 0, 0}, {0, 0, 2}}}}};
    std::ofstream out(path);
    for (int s = 0; s < 6; ++s)
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const auto& [o, du, dv] = sides[size_t(s)];
                const P p = point({o[0] + (du[0] * i + dv[0] * j) / n, o[1] + (du[1] * i + dv[1] * j) / n,
                                   o[2] + (du[2] * i + dv[2] * j) / n});
                out << "v " << p[0] << ' ' << p[1] << ' ' << p[2] << "\nvt " << (s % 3 + 0.05 + 0.9 * i / n) / 3 << ' '
                    << (s / 3 + 0.05 + 0.9 * j / n) / 2 << '\n';
            }
    for (int s = 0; s < 6; ++s) {
        out << "s " << (groups ? s + 1 : 1) << '\n';
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int a = s * (n + 1) * (n + 1) + j * (n + 1) + i + 1, b = a + 1, c = a + n + 2, d = a + n + 1;
                out << "f " << a << '/' << a << ' ' << b << '/' << b << ' ' << c << '/' << c << "\nf " << a << '/'
                    << a << ' ' << c << '/' << c << ' ' << d << '/' << d << '\n';
            }
    }
}

// A low cube with hard edges over a high one rounded inside it: the
// projection's normals are averaged across the hard edges, so the rays near
// an edge or corner lean in to the rounding instead of passing beside it.
TEST_F(CommandHighLow, HardEdgesOpenNoGapOverARoundedHighCube)
{
    WriteBox(low, 1, [](std::array<double, 3> p) { return p; }, true);
    WriteBox(high, 24, [](std::array<double, 3> p) {
        constexpr double r = 0.5;
        std::array<double, 3> q, d;
        for (int k = 0; k < 3; ++k) {
            q[k] = std::clamp(p[k], r - 1, 1 - r);
            d[k] = p[k] - q[k];
        }
        const double length = std::hypot(d[0], d[1], d[2]);
        for (int k = 0; k < 3; ++k) q[k] += r * d[k] / length;
        return q;
    }, false);
    EXPECT_EQ(Projection({low, "--high", high, "--size", "64x64", "--ray-distance-relative", "0.15", "-o",
                          scratch / "map.png"})["missed"],
              0);
}

// A cage pushed out by d along a flat mesh's normal starts the rays where
// --ray-distance d does; one with other faces is refused before any bake.
TEST_F(CommandHighLow, ACageStandsForItsDistanceAndMustMatchTheFaces)
{
    const std::string cage = scratch / "cage.obj";
    WriteGrid(low, 3, [](double u, double v) { return std::array<double, 3>{u, v, 0}; });
    WriteGrid(cage, 3, [](double u, double v) { return std::array<double, 3>{u, v, 0.25}; });
    WriteGrid(high, 96, [](double u, double v) {
        const double x = 2 * u - 0.5, y = 2 * v - 0.5;
        return std::array<double, 3>{x, y, Bump(x, y)};
    });
    const std::vector<std::string> common{low, "--high", high, "--size", "50x50", "--distance", "0.5"};
    auto caged = common, plain = common;
    caged.insert(caged.end(), {"--cage", cage, "--ray-distance", "0:0.01", "-o", scratch / "caged.png"});
    plain.insert(plain.end(), {"--ray-distance", "0.25:0.01", "-o", scratch / "plain.png"});
    ASSERT_EQ(Run(caged).status, 0);
    ASSERT_EQ(Run(plain).status, 0);
    const std::vector<WORD> a = Levels(scratch / "caged.png"), b = Levels(scratch / "plain.png");
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) ASSERT_LE(std::abs(int(a[i]) - int(b[i])), 1) << i;

    WriteGrid(cage, 2, [](double u, double v) { return std::array<double, 3>{u, v, 0.25}; });
    auto wrong = caged;
    wrong.back() = scratch / "wrong.png";
    const CommandResult refused = Run(wrong);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("8 faces and"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::ifstream(scratch / "wrong.png").good());
}

}  // namespace
