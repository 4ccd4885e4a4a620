#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <random>
#include <thread>

#include "check_recorder.h"
#include "map/detail/texel_loop.h"
#include "map_support.h"

using namespace dunsmere;

namespace {

// One worker's whole sequence, as the two-thread split hands it out. It is
// cancelled through `cancel`, or from its `cancelAtPoll`-th poll on.
class SequenceSeat final : public WorkerSeat {
public:
    SequenceSeat(int sequence, std::int64_t length, std::atomic<bool>& cancel, int cancelAtPoll = 0)
        : sequence_(sequence), length_(length), cancel_(cancel), cancelAtPoll_(cancelAtPoll)
    {
    }
    bool NextChunk(WorkChunk& chunk) override
    {
        if (given_) return false;
        given_ = true;
        chunk = {sequence_, 0, length_};
        return true;
    }
    bool Chunked() const override { return false; }
    bool Cancelled() const override
    {
        ++polls;
        return cancel_.load() || (cancelAtPoll_ > 0 && polls >= cancelAtPoll_);
    }
    void Cancel() override { cancel_.store(true); }
    void AddDone(int) override {}

    mutable int polls = 0;

private:
    int sequence_;
    std::int64_t length_;
    std::atomic<bool>& cancel_;
    int cancelAtPoll_;
    bool given_ = false;
};

// The crease rasterized into a small map, with the tables a run builds.
struct TexelBench {
    Mesh mesh = MappedCrease();
    UtilitySettings settings;
    Tab<Point3> faceNormals;
    VertexNormals vertexNormals;
    std::mutex workLock;
    MapRunState state;
    TexelJob job{mesh, settings, {faceNormals, vertexNormals}, workLock, state};
    std::atomic<bool> cancel{false};

    explicit TexelBench(std::uint32_t W = 18, std::uint32_t H = 12)
    {
        settings.dist = 8.0f;
        RasterizeAll(mesh, state.TexelGrid, W, H);
        state.TexelValues.Resize(W, H, 0.0f);
        BuildFaceNormals(mesh, faceNormals);
        vertexNormals.BuildVertexNormals(mesh);
    }
    // The worker of one sequence, on the calling thread.
    int Work(int sequence)
    {
        const std::int64_t H = state.TexelGrid.InnerCount(0);
        SequenceSeat seat(sequence, sequence == kEvenRowSequence ? (H + 1) / 2 : H / 2, cancel);
        return TexelWorker(job, seat);
    }
    void RunBoth()  // on threads of their own, as a run starts them
    {
        std::thread odd([this] { Work(kOddRowSequence); }), even([this] { Work(kEvenRowSequence); });
        odd.join();
        even.join();
    }
    std::vector<std::vector<float>> Values() const
    {
        std::vector<std::vector<float>> v(state.TexelValues.OuterCount());
        for (std::uint32_t x = 0; x < v.size(); ++x)
            for (std::uint32_t y = 0; y < state.TexelValues.InnerCount(x); ++y) v[x].push_back(state.TexelValues.Get(x, y));
        return v;
    }
    std::vector<std::vector<float>> Expected() const { return ExpectedValues(mesh, settings, state.TexelGrid); }
};

TEST(TexelWorkers, ValuesMatchEvaluateSampleOnTheRecords)
{
    CheckRecorder checks;
    TexelBench plain;
    plain.RunBoth();
    const auto values = plain.Values();
    EXPECT_EQ(values, plain.Expected());
    int open = 0, enclosed = 0;
    for (const auto& column : values)
        for (float v : column) {
            open += v == 0.0f;
            enclosed += v >= 0.5f;
        }
    EXPECT_TRUE(open > 0 && enclosed > 0);

    TexelBench noisy;  // the noise is placed with the raw weights
    noisy.settings.noiseOn = 1;
    noisy.settings.noiseSize = 3.7f;
    noisy.RunBoth();
    EXPECT_EQ(noisy.Values(), noisy.Expected());
    EXPECT_NE(noisy.Values(), values);

    TexelBench sizeless;  // size 0 leaves the values as they are
    sizeless.settings.noiseOn = 1;
    sizeless.settings.noiseSize = 0.0f;
    sizeless.RunBoth();
    EXPECT_EQ(sizeless.Values(), values);
    EXPECT_TRUE(checks.Take().empty());

    EXPECT_EQ(CapTexelValue(ModulateByNoise(0.7f, -1.0f)), 0.0f);
    EXPECT_EQ(ModulateByNoise(0.5f, -1.018f), 0.0f);  // noise3's low end: never below 0
    EXPECT_EQ(CapTexelValue(ModulateByNoise(0.6f, 1.0f)), 0.99f);  // 1.2
    EXPECT_EQ(CapTexelValue(ModulateByNoise(0.5f, 1.0f)), 1.0f);   // exactly 1 stays
}

// The smurl sample without noise, finding the texels of odd faces uncovered.
struct OddFacesUncovered {
    struct Scratch {
        std::vector<Ray> rays;
    };
    bool MakeScratch(const TexelJob& job, Scratch& s) const
    {
        s.rays.resize(static_cast<size_t>(RayScratchCount(job.settings)));
        return true;
    }
    bool Evaluate(const TexelJob& job, const TexelSample& t, Scratch& s, float& value) const
    {
        value = EvaluateSampleWithDraw(job.settings, job.tables, job.mesh, t.face, t.bary, s.rays.data(), t.azimuthDraw);
        return t.face % 2 == 0;
    }
};

TEST(TexelWorkers, TexelsAnEvaluatorFindsUncoveredAreLeftOutAndTheRestKeepTheirDraws)
{
    TexelBench classic, odd;
    const OddFacesUncovered evaluator;
    const TexelEvaluatorFor<OddFacesUncovered> handle(evaluator);
    odd.job.evaluator = &handle;
    classic.RunBoth();
    odd.RunBoth();
    int left = 0;
    for (std::uint32_t x = 0; x < classic.state.TexelGrid.OuterCount(); ++x)
        for (std::uint32_t y = 0; y < classic.state.TexelGrid.InnerCount(x); ++y) {
            const TexelRecord r = classic.state.TexelGrid.Get(x, y);
            const bool kept = r.face % 2 == 0;
            left += r.face >= 0 && !kept;
            EXPECT_EQ(odd.state.TexelGrid.Get(x, y), kept ? r : kEmptyTexel) << x << ", " << y;
            EXPECT_EQ(odd.state.TexelValues.Get(x, y), kept ? classic.state.TexelValues.Get(x, y) : 0.0f);
        }
    EXPECT_GT(left, 0);
}

TEST(TexelWorkers, CancelAndAMissingRayBufferStopBeforeAnyTexel)
{
    TexelBench cancelled;
    cancelled.state.TexelValues.Fill(0.25f);
    cancelled.cancel.store(true);
    EXPECT_EQ(cancelled.Work(kEvenRowSequence), 0);
    EXPECT_EQ(cancelled.Work(kOddRowSequence), 0);
    for (const auto& column : cancelled.Values())
        for (float v : column) EXPECT_EQ(v, 0.25f);

    TexelBench starved;  // 2.5e9 rays: more than any buffer can be sized for
    starved.settings.horizontalSpread = starved.settings.verticalSpread = 50000;
    starved.RunBoth();
    EXPECT_EQ(starved.state.scratchFailed.load(), 1);
    EXPECT_TRUE(starved.cancel.load());
    for (const auto& column : starved.Values())
        for (float v : column) EXPECT_EQ(v, 0.0f);
}

TEST(TexelWorkers, ACancelMidRowIsNoticedAtTheNextTexel)
{
    TexelBench bench;
    const auto expected = bench.Expected();
    constexpr std::uint32_t W = 18, H = 12;
    // An even row below the first with evaluated texels on both sides of the
    // cut: the last of them is the texel the cancel lands before.
    std::uint32_t row = 0, cut = 0;
    for (std::uint32_t y = 2; y < H && !row; y += 2) {
        std::uint32_t first = W, last = 0;
        for (std::uint32_t x = 0; x < W; ++x)
            if (expected[x][y] != 0.0f) {
                first = std::min(first, x);
                last = x;
            }
        if (first < last) {
            row = y;
            cut = last;
        }
    }
    ASSERT_NE(row, 0u);
    std::atomic<bool> never{false};
    SequenceSeat seat(kEvenRowSequence, H / 2, never, static_cast<int>((row / 2) * W + cut + 1));
    EXPECT_EQ(TexelWorker(bench.job, seat), 0);
    EXPECT_EQ(seat.polls, static_cast<int>((row / 2) * W + cut + 1));  // none after the cancel was seen
    const auto values = bench.Values();
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            const bool reached = y % 2 == 0 && (y < row || (y == row && x < cut));
            EXPECT_EQ(values[x][y], reached ? expected[x][y] : 0.0f) << x << ", " << y;
        }
}

TEST(TexelWorkers, RowsSplitByParityAndOnlyTheEvenWorkerReports)
{
    for (int W : {1, 7, 4096})
        for (int y = 0; y < 200; y += 2) EXPECT_EQ(RowProgress(y, W, 200), y / 2);

    TexelBench tall(3, 200);
    tall.state.progressPercent = 55;
    EXPECT_EQ(tall.Work(kOddRowSequence), 1);
    EXPECT_EQ(tall.state.progressPercent, 0);  // both workers start it at 0
    const auto odd = tall.Values();
    EXPECT_EQ(tall.Work(kEvenRowSequence), 1);
    EXPECT_EQ(tall.state.progressPercent, 99);  // never 100
    const auto expected = tall.Expected();
    for (std::uint32_t x = 0; x < 3; ++x)
        for (std::uint32_t y = 0; y < 200; ++y) EXPECT_EQ(odd[x][y], y % 2 ? expected[x][y] : 0.0f);
    EXPECT_EQ(tall.Values(), expected);

    TexelBench flat(18, 1);  // no odd row at all; the even worker reports 0
    flat.state.progressPercent = 55;
    EXPECT_EQ(flat.Work(kOddRowSequence), 1);
    EXPECT_EQ(flat.Values(), std::vector<std::vector<float>>(18, {0.0f}));
    EXPECT_EQ(flat.Work(kEvenRowSequence), 1);
    EXPECT_EQ(flat.state.progressPercent, 0);
    EXPECT_EQ(flat.Values(), flat.Expected());
}

// A 6 x 5 map whose records and values are set by hand.
struct PassMap {
    MapRunState state;
    PassMap()
    {
        state.TexelGrid.Resize(6, 5, kEmptyTexel);
        state.TexelValues.Resize(6, 5, 0.0f);
    }
    void Cover(std::uint32_t x, std::uint32_t y, int face, float value)
    {
        state.TexelGrid.Set(x, y, {face, {0.2f, 0.3f, 0.5f}, {0.2f, 0.3f, 0.5f}});
        state.TexelValues.Set(x, y, value);
    }
    float At(std::uint32_t x, std::uint32_t y) const { return state.TexelValues.Get(x, y); }
};

TEST(NeighbourhoodPasses, RepairLiftsSpecklesFromBrightTexelsOfTheSameFace)
{
    PassMap m;
    m.Cover(2, 2, 0, 0.05f);  // beside 0.85 and 0.9 of its face: lifted to 0.9
    m.Cover(1, 1, 0, 0.85f);
    m.Cover(3, 2, 0, 0.9f);
    m.Cover(2, 3, 0, 0.7f);   // not bright, and too bright to be lifted
    m.Cover(3, 3, 0, 0.85f);
    m.Cover(4, 4, 1, 0.05f);  // its bright neighbour belongs to face 0
    m.Cover(0, 0, 3, 0.8f);   // the limits count: 0.1 beside 0.8 is lifted ...
    m.Cover(1, 0, 3, 0.1f);
    m.Cover(2, 0, 3, 0.0f);   // ... but a lifted texel lights nothing
    m.Cover(5, 0, 2, 0.0f);   // at the map's corner, beside 0.95 of its face
    m.Cover(5, 1, 2, 0.95f);
    m.state.TexelValues.Set(0, 4, -0.3f);  // uncovered: only made positive
    RepairSpeckles(m.state);
    EXPECT_EQ(m.At(2, 2), 0.9f);
    EXPECT_EQ(m.At(2, 3), 0.7f);
    EXPECT_EQ(m.At(4, 4), 0.05f);
    EXPECT_EQ(m.At(1, 0), 0.8f);
    EXPECT_EQ(m.At(2, 0), 0.0f);
    EXPECT_EQ(m.At(5, 0), 0.95f);
    EXPECT_EQ(m.At(0, 4), 0.3f);
}

TEST(NeighbourhoodPasses, DilateGrowsCoverageByOneTexel)
{
    PassMap m;
    m.Cover(1, 2, 0, 0.3f);
    m.Cover(3, 3, 1, 0.7f);
    m.Cover(5, 0, 2, 0.0f);
    DilateCoverage(m.state);
    EXPECT_EQ(m.At(2, 2), 0.7f);  // beside 0.3 and 0.7
    EXPECT_EQ(m.At(0, 1), 0.3f);  // clipped at the edge
    EXPECT_EQ(m.At(4, 4), 0.7f);
    EXPECT_EQ(m.At(1, 2), 0.3f);  // covered texels keep their value
    EXPECT_EQ(m.At(5, 4), 0.0f);  // two away, though (4, 4) was just filled
    EXPECT_EQ(m.At(5, 2), 0.0f);
}

// The passes over a map of many column bands, on several threads against
// one: speckles by bright texels of the same face, and three rounds of
// growth with the reached marks.
TEST(NeighbourhoodPasses, SeveralThreadsGiveOnesValues)
{
    constexpr std::uint32_t W = 70, H = 23;
    auto make = [](MapRunState& state) {
        std::mt19937 rng(11u);
        state.TexelGrid.Resize(W, H, kEmptyTexel);
        state.TexelValues.Resize(W, H, 0.0f);
        for (std::uint32_t x = 0; x < W; ++x)
            for (std::uint32_t y = 0; y < H; ++y) {
                if (rng() % 5 == 0) continue;  // gaps for the growth to fill
                const float v = rng() % 3 == 0 ? 0.05f : static_cast<float>(rng() % 1000) / 1000.0f;
                state.TexelGrid.Set(x, y, {static_cast<int>(x / 9 + y / 7), {0.2f, 0.3f, 0.5f}, {0.2f, 0.3f, 0.5f}});
                state.TexelValues.Set(x, y, v);
            }
    };
    MapRunState one;
    make(one);
    RepairSpeckles(one);
    DilateCoverage(one, 3, &one.reached);
    for (int threads : {2, 3, 7}) {
        MapRunState several;
        make(several);
        const BuildHelpers helpers{&DefaultThreadStarter(), threads};
        RepairSpeckles(several, helpers);
        DilateCoverage(several, 3, &several.reached, helpers);
        EXPECT_EQ(several.reached, one.reached) << threads;
        for (std::uint32_t x = 0; x < W; ++x)
            for (std::uint32_t y = 0; y < H; ++y)
                ASSERT_EQ(several.TexelValues.Get(x, y), one.TexelValues.Get(x, y)) << threads << ": " << x << ", " << y;
    }
}

// Several rounds against a plain sweep per round, reading a copy of the map
// as it stood before the round; and each texel is reached in round k
// exactly when its Chebyshev distance to the nearest covered texel is k.
TEST(NeighbourhoodPasses, DilateRoundsReachTexelsAtTheirDistanceFromCoverage)
{
    constexpr std::uint32_t W = 37, H = 29;
    std::mt19937 rng(3u);
    struct Cell {
        std::uint32_t x, y;
        int face;
        float value;
    };
    std::vector<Cell> cells;
    for (int blob = 0; blob < 6; ++blob) {
        const std::uint32_t cx = rng() % W, cy = rng() % H, r = 1 + rng() % 3;
        for (std::uint32_t x = cx >= r ? cx - r : 0; x <= std::min(cx + r, W - 1); ++x)
            for (std::uint32_t y = cy >= r ? cy - r : 0; y <= std::min(cy + r, H - 1); ++y)
                cells.push_back({x, y, blob, static_cast<float>(rng() % 1000) / 1000.0f});
    }
    auto fill = [&cells](MapRunState& state) {
        state.TexelGrid.Resize(W, H, kEmptyTexel);
        state.TexelValues.Resize(W, H, 0.0f);
        for (const Cell& c : cells) {
            state.TexelGrid.Set(c.x, c.y, {c.face, {0.2f, 0.3f, 0.5f}, {0.2f, 0.3f, 0.5f}});
            state.TexelValues.Set(c.x, c.y, c.value);
        }
    };
    MapRunState state;
    fill(state);
    for (const int rounds : {1, 2, 5, 40}) {
        MapRunState fast;
        fill(fast);
        DilateCoverage(fast, rounds);
        // The reference: whole-map sweeps over a snapshot.
        std::vector<std::vector<int>> setIn(W, std::vector<int>(H, -1));
        std::vector<std::vector<float>> v(W, std::vector<float>(H));
        for (std::uint32_t x = 0; x < W; ++x)
            for (std::uint32_t y = 0; y < H; ++y) {
                v[x][y] = state.TexelValues.Get(x, y);
                if (state.TexelGrid.Get(x, y).face != -1) setIn[x][y] = 0;
            }
        for (int k = 1; k <= rounds; ++k) {
            const auto before = setIn;
            const auto was = v;
            for (std::uint32_t x = 0; x < W; ++x)
                for (std::uint32_t y = 0; y < H; ++y) {
                    if (before[x][y] != -1) continue;
                    bool any = false;
                    float best = 0.0f;
                    for (std::uint32_t xx = x > 0 ? x - 1 : 0; xx <= std::min(x + 1, W - 1); ++xx)
                        for (std::uint32_t yy = y > 0 ? y - 1 : 0; yy <= std::min(y + 1, H - 1); ++yy)
                            if (before[xx][yy] != -1) {
                                any = true;
                                best = std::max(best, was[xx][yy]);
                            }
                    if (!any) continue;
                    v[x][y] = best;
                    setIn[x][y] = k;
                }
        }
        int reached = 0;
        for (std::uint32_t x = 0; x < W; ++x)
            for (std::uint32_t y = 0; y < H; ++y) {
                ASSERT_EQ(fast.TexelValues.Get(x, y), v[x][y]) << rounds << " rounds, texel " << x << ", " << y;
                int distance = 1 << 20;
                for (const Cell& c : cells)
                    distance = std::min(distance, std::max(std::abs(static_cast<int>(x) - static_cast<int>(c.x)),
                                                           std::abs(static_cast<int>(y) - static_cast<int>(c.y))));
                EXPECT_EQ(setIn[x][y], distance <= rounds ? distance : -1) << x << ", " << y;
                if (setIn[x][y] == rounds) ++reached;
            }
        if (rounds <= 5) {  // forty fill the map sooner
            EXPECT_GT(reached, 0) << rounds << " rounds";
        }
    }
}

}  // namespace
