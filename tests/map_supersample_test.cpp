#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "map_support.h"
#include "scripted_bitmaps.h"
#include "scripted_host.h"

using namespace dunsmere;

namespace {

struct Bake {
    ScriptedHost host;
    ScriptedMeshObject object;
    ScriptedNode node{&object};
    UtilitySettings settings;
    RunTables tables;
    MapRunState state;

    Bake(std::int32_t width, std::int32_t height)
    {
        object.mesh = MappedCrease();
        host.selection = {&node};
        settings.XSiz = width;
        settings.YSiz = height;
        settings.mapChannel = 1;
        settings.dist = 6.0f;
    }
    // The map turned a quarter: the gap between its halves runs across the
    // rows, and the values change from row to row.
    void Turn()
    {
        for (int v = 0; v < object.mesh.getNumMapVerts(1); ++v) std::swap(object.mesh.mapVerts(1)[v].x, object.mesh.mapVerts(1)[v].y);
    }
    // The pixels written, row by row.
    std::vector<BMM_Color_64> Run(ThreadStarter& starter = DefaultThreadStarter())
    {
        ScriptedBitmapManager bitmaps;
        BitmapManagerScope installed{&bitmaps};
        GenerateSmurlMap(host, settings, tables, state, starter);
        EXPECT_EQ(bitmaps.width, settings.XSiz);
        return bitmaps.pixels;
    }
};

std::uint32_t Bits(float v)
{
    std::uint32_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The block mean as the written map takes it: the block's rows top to
// bottom, each left to right, summed as floats and divided by S * S.
float BlockMean(const BArray<float>& fine, std::uint32_t X, std::uint32_t Y, std::uint32_t S)
{
    float sum = 0.0f;
    for (std::uint32_t sy = 0; sy < S; ++sy)
        for (std::uint32_t sx = 0; sx < S; ++sx) sum += fine.Get(S * X + sx, S * Y + sy);
    return sum / static_cast<float>(S * S);
}

// Bands as thin as two rows and as thick as the map, on the specified two
// threads and on three (whose chunks place their own draws), with noise and
// with padding wider than a band: each time the values are those of the
// direct bake of the fine map, averaged.
TEST(Supersample, AMapIsTheBlockMeanOfTheDirectBakeOfItsFineMap)
{
    struct Case {
        int S, padding;
        std::uint32_t bandRows;
        int threads;
        bool noise, turned;
    };
    for (const Case c : {Case{2, 1, 0, 0, false, true}, Case{3, 2, 2, 3, true, true}, Case{2, 3, 6, 0, false, true},
                         Case{4, 0, 4, 1, true, false}, Case{2, 1, 64, 2, true, false}}) {
        SCOPED_TRACE(testing::Message() << "S " << c.S << " padding " << c.padding << " band " << c.bandRows);
        const std::uint32_t S = static_cast<std::uint32_t>(c.S);
        Bake super(20, 14), direct(20 * c.S, 14 * c.S);
        for (Bake* b : {&super, &direct}) {
            b->host.workerThreads = c.threads;
            b->settings.noiseOn = c.noise;
            b->settings.noiseSize = 3.0f;
        }
        super.settings.supersample = c.S;
        super.settings.padding = c.padding;
        super.state.bandRows = c.bandRows;
        direct.settings.padding = c.S * c.padding;
        super.Run();
        direct.Run();
        ASSERT_EQ(super.state.TexelValues.OuterCount(), 20u);
        int differing = 0, lit = 0;
        for (std::uint32_t X = 0; X < 20; ++X)
            for (std::uint32_t Y = 0; Y < 14; ++Y) {
                const float want = BlockMean(direct.state.TexelValues, X, Y, S);
                differing += Bits(super.state.TexelValues.Get(X, Y)) != Bits(want);
                lit += want > 0.0f;
            }
        EXPECT_EQ(differing, 0);
        EXPECT_GT(lit, 80);  // the map is not trivially dark
    }
}

// What the written map's alpha and inversion show, against the fine map's
// coverage counted here and that coverage grown by S * padding here.
TEST(Supersample, AlphaIsCoverageAndWhiteIsOpenWhereverTheMapReached)
{
    for (const int S : {1, 3}) {
        SCOPED_TRACE(S);
        const std::uint32_t s = static_cast<std::uint32_t>(S), W = 40 * s, H = 14 * s;
        const int grow = S * 1;
        Bake plain(40, 14), marked(40, 14);
        for (Bake* b : {&plain, &marked}) b->settings.supersample = S;
        marked.settings.coverageAlpha = 1;
        marked.settings.invertLevels = 1;
        const std::vector<BMM_Color_64> plainPixels = plain.Run(), markedPixels = marked.Run();
        BArray<TexelRecord> fine;
        RasterizeAll(plain.object.mesh, fine, W, H);
        int partial = 0, unreached = 0;
        for (std::uint32_t Y = 0; Y < 14; ++Y)
            for (std::uint32_t X = 0; X < 40; ++X) {
                int covered = 0;
                bool reached = false;
                for (std::uint32_t y = s * Y; y < s * Y + s; ++y)
                    for (std::uint32_t x = s * X; x < s * X + s; ++x) {
                        covered += fine.Get(x, y).face != -1;
                        for (int dy = -grow; dy <= grow; ++dy)
                            for (int dx = -grow; dx <= grow; ++dx) {
                                const int xx = static_cast<int>(x) + dx, yy = static_cast<int>(y) + dy;
                                if (xx >= 0 && yy >= 0 && xx < static_cast<int>(W) && yy < static_cast<int>(H))
                                    reached = reached || fine.Get(static_cast<std::uint32_t>(xx),
                                                                  static_cast<std::uint32_t>(yy)).face != -1;
                            }
                    }
                const BMM_Color_64 p = plainPixels[Y * 40 + X], m = markedPixels[Y * 40 + X];
                EXPECT_EQ(p.a, 65535);
                EXPECT_EQ(m.a, 65535 * covered / (S * S)) << X << "," << Y;
                EXPECT_EQ(m.r, reached ? 65535 - p.r : p.r) << X << "," << Y;
                partial += covered > 0 && covered < S * S;
                unreached += !reached;
            }
        EXPECT_GT(unreached, 0);  // the gap between the map's halves is wider than the padding
        if (S > 1) {
            EXPECT_GT(partial, 0);
        }
    }
}

// A cancel still cleans and averages every band, and then asks.
TEST(Supersample, ACancelledMapIsStillFinishedAndOffered)
{
    Bake bake(20, 14);
    bake.settings.supersample = 2;
    bake.state.bandRows = 4;
    bake.host.cancelAtQuery = 1;
    bake.host.answer = IDYES;
    const std::vector<BMM_Color_64> pixels = bake.Run();
    ASSERT_EQ(pixels.size(), 280u);
    bool asked = false;
    for (const MessageRecord& m : bake.host.messages) asked = asked || m.text == kSavePartialBitmap;
    EXPECT_TRUE(asked);
}

// A cancel while band k's workers wait: they stop at their first texel, no
// later band starts, and the rows below the band stay 0 and uncovered.
TEST(Supersample, ACancelStopsTheRunInTheBandInHand)
{
    constexpr std::uint32_t S = 2, kBandRows = 4, kBand = 3, kFirst = kBand * kBandRows;
    Bake whole(20, 14), cancelled(20, 14);
    for (Bake* b : {&whole, &cancelled}) {
        b->settings.supersample = S;
        b->settings.padding = 0;  // a halo of one row: the speckle repair's
        b->settings.coverageAlpha = 1;
        b->state.bandRows = kBandRows;
    }
    GateStarter gate;
    gate.gateFrom = 2 * kBand + 1;
    ScriptedHost& host = cancelled.host;
    host.onSleep = [&] {  // the band's first poll cancels; its next lets the workers go
        gate.open.store(host.cancelAtQuery > 0);
        if (gate.starts >= gate.gateFrom) host.cancelAtQuery = 1;
    };
    host.answer = IDYES;
    whole.Run();
    cancelled.Run(gate);
    EXPECT_EQ(gate.starts, static_cast<int>(2 * kBand + 2));

    for (std::uint32_t Y = 0; Y < 14; ++Y)
        for (std::uint32_t X = 0; X < 20; ++X) {
            const std::size_t i = static_cast<std::size_t>(X) * 14 + Y;
            const float want = whole.state.TexelValues.Get(X, Y), got = cancelled.state.TexelValues.Get(X, Y);
            // Rows between: those the speckle repair reaches from above.
            const float expected = S * Y + S + 1 <= kFirst ? want : S * Y >= kFirst + 2 ? 0.0f : got;
            EXPECT_EQ(Bits(got), Bits(expected)) << X << "," << Y;
            const bool below = S * Y >= kFirst + kBandRows;
            EXPECT_EQ(cancelled.state.coveredSubTexels[i], below ? 0 : whole.state.coveredSubTexels[i]) << X << "," << Y;
        }
}

}  // namespace
