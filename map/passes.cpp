#include "map/detail/passes.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <vector>

#include "geom/geom.h"

namespace dunsmere {

namespace {

// A covered texel at or below this is a speckle; a neighbour at or above the
// other is bright enough to lift it.
constexpr float kSpeckleMax = 0.1f;
constexpr float kBrightMin = 0.8f;

// The clipped 3 x 3 block around (x, y) of a W x H map.
struct Block {
    std::uint32_t x0, x1, y0, y1;
    Block(std::uint32_t x, std::uint32_t y, std::uint32_t W, std::uint32_t H)
        : x0(x > 0 ? x - 1 : 0), x1(x + 1 < W ? x + 1 : W - 1), y0(y > 0 ? y - 1 : 0), y1(y + 1 < H ? y + 1 : H - 1)
    {
    }
};

// The passes see a grid through one of these: its size, each texel's face
// and value, and a texel's place in the grid's storage order.
class StateGrid {
public:
    static constexpr bool kColumnByColumn = true;
    explicit StateGrid(MapRunState& s) : grid_(s.TexelGrid), values_(s.TexelValues) {}
    std::uint32_t W() const { return grid_.OuterCount(); }
    std::uint32_t H() const { return grid_.OuterCount() > 0 ? grid_.InnerCount(0) : 0u; }
    int Face(std::uint32_t x, std::uint32_t y) const { return grid_.Get(x, y).face; }
    float Value(std::uint32_t x, std::uint32_t y) const { return values_.Get(x, y); }
    void Set(std::uint32_t x, std::uint32_t y, float v) { values_.Set(x, y, v); }
    std::size_t Index(std::uint32_t x, std::uint32_t y) const { return static_cast<std::size_t>(x) * H() + y; }
    std::uint32_t X(std::size_t i) const { return static_cast<std::uint32_t>(i / H()); }
    std::uint32_t Y(std::size_t i) const { return static_cast<std::uint32_t>(i % H()); }
    void AbsoluteValues()
    {
        for (std::uint32_t x = 0; x < values_.OuterCount(); ++x) {
            float* column = values_.Inner(x);
            for (std::uint32_t y = 0; y < values_.InnerCount(x); ++y) column[y] = std::fabs(column[y]);
        }
    }

private:
    BArray<TexelRecord>& grid_;
    BArray<float>& values_;
};

class WindowGrid {
public:
    static constexpr bool kColumnByColumn = false;
    explicit WindowGrid(PassWindow& w) : w_(w) {}
    std::uint32_t W() const { return w_.width; }
    std::uint32_t H() const { return w_.height; }
    int Face(std::uint32_t x, std::uint32_t y) const { return w_.faces[Index(x, y)]; }
    float Value(std::uint32_t x, std::uint32_t y) const { return w_.values[Index(x, y)]; }
    void Set(std::uint32_t x, std::uint32_t y, float v) { w_.values[Index(x, y)] = v; }
    std::size_t Index(std::uint32_t x, std::uint32_t y) const { return static_cast<std::size_t>(y) * w_.width + x; }
    std::uint32_t X(std::size_t i) const { return static_cast<std::uint32_t>(i % w_.width); }
    std::uint32_t Y(std::size_t i) const { return static_cast<std::uint32_t>(i / w_.width); }
    void AbsoluteValues()
    {
        for (float& v : w_.values) v = std::fabs(v);
    }

private:
    PassWindow& w_;
};

// Neither pass reads what it writes (a lifted texel is negative, so never
// bright; a growth round reads only texels set before it and writes only
// texels not yet set), so the order a grid is visited in cannot change the
// result: each grid is visited in its storage order.
template <class Grid>
void VisitInOrder(const Grid& g, auto&& visit)
{
    const std::uint32_t W = g.W(), H = g.H();
    if constexpr (Grid::kColumnByColumn) {
        for (std::uint32_t x = 0; x < W; ++x)
            for (std::uint32_t y = 0; y < H; ++y) visit(x, y);
    } else {
        for (std::uint32_t y = 0; y < H; ++y)
            for (std::uint32_t x = 0; x < W; ++x) visit(x, y);
    }
}

template <class Grid>
void RepairAt(Grid& g, std::uint32_t x, std::uint32_t y)
{
    const int face = g.Face(x, y);
    if (face == -1 || !(g.Value(x, y) <= kSpeckleMax)) return;
    int count = 0;
    float best = 0.0f;
    const Block b(x, y, g.W(), g.H());
    for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
        for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
            const float v = g.Value(xx, yy);
            if (g.Face(xx, yy) != face || !(v >= kBrightMin)) continue;
            ++count;
            if (v > best) best = v;
        }
    // Negative until the second pass, so a lifted texel is not a
    // bright neighbour of the texels visited after it.
    if (count > 0) g.Set(x, y, -best);
}

template <class Grid>
void RepairIn(Grid& g)
{
    VisitInOrder(g, [&](std::uint32_t x, std::uint32_t y) { RepairAt(g, x, y); });
    g.AbsoluteValues();
}

// Round 1 of the growth at texel (x, y): its sources are the covered texels,
// which it never writes. Appends a texel it sets to `frontier`.
template <class Grid>
void GrowFromCoverage(Grid& g, std::uint32_t x, std::uint32_t y, std::uint16_t* setIn, std::vector<std::size_t>& frontier)
{
    if (g.Face(x, y) != -1) {
        if (setIn) setIn[g.Index(x, y)] = 0;
        return;
    }
    int count = 0;
    float best = 0.0f;
    const Block b(x, y, g.W(), g.H());
    for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
        for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
            if (g.Face(xx, yy) == -1) continue;
            ++count;
            const float v = g.Value(xx, yy);
            if (v > best) best = v;
        }
    if (count == 0) return;
    g.Set(x, y, best);
    frontier.push_back(g.Index(x, y));
}

// A whole map's grid in bands of columns, for the lent threads: a band's
// 3 x 3 blocks reach one column into each neighbour band.
constexpr std::uint32_t kBandColumns = 16;

std::size_t BandsOf(std::uint32_t W) { return (W + kBandColumns - 1) / kBandColumns; }

template <class Visit>
void VisitBand(std::uint32_t W, std::uint32_t H, std::size_t band, Visit&& visit)
{
    const std::uint32_t x0 = static_cast<std::uint32_t>(band) * kBandColumns, x1 = std::min(W, x0 + kBandColumns);
    for (std::uint32_t x = x0; x < x1; ++x)
        for (std::uint32_t y = 0; y < H; ++y) visit(x, y);
}

// SWEEP runs round 1 over the whole grid, leaving the texels it set in
// the frontier in the grid's storage order.
template <class Grid, class Sweep>
void DilateIn(Grid& g, int rounds, std::uint8_t* reached, Sweep&& sweep)
{
    const std::uint32_t W = g.W(), H = g.H();
    if (W == 0 || H == 0) return;
    if (reached)
        VisitInOrder(g, [&](std::uint32_t x, std::uint32_t y) { reached[g.Index(x, y)] = g.Face(x, y) != -1; });
    if (rounds <= 0) return;
    if (rounds > kMaxDilateRounds) rounds = kMaxDilateRounds;
    // The round each texel was set in (0: covered), kept from the second
    // round on: a texel serves as a source from the round after its own.
    constexpr std::uint16_t kUnset = 0xFFFF;
    std::vector<std::uint16_t> setIn;
    if (rounds > 1) setIn.assign(static_cast<std::size_t>(W) * H, kUnset);
    // The texels the last round set, whose unset neighbours the next visits.
    std::vector<std::size_t> frontier, next;

    // Round 1 sweeps the map: its sources are the covered texels.
    sweep(setIn.empty() ? nullptr : setIn.data(), frontier);
    // Round 1's marks go in after its sweep: during it, a texel it set must
    // not read as covered. Its texels are exactly the frontier.
    for (const std::size_t i : frontier) {
        if (rounds > 1) setIn[i] = 1;
        if (reached) reached[i] = 1;
    }

    // Later rounds visit only the neighbours of the round before, so each
    // texel is looked at a bounded number of times, whatever the rounds.
    for (int k = 2; k <= rounds && !frontier.empty(); ++k) {
        next.clear();
        for (const std::size_t i : frontier) {
            const Block around(g.X(i), g.Y(i), W, H);
            for (std::uint32_t x = around.x0; x <= around.x1; ++x)
                for (std::uint32_t y = around.y0; y <= around.y1; ++y) {
                    if (setIn[g.Index(x, y)] != kUnset) continue;
                    float best = 0.0f;
                    const Block b(x, y, W, H);
                    for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
                        for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
                            if (setIn[g.Index(xx, yy)] >= k) continue;  // unset, or set in this round
                            const float v = g.Value(xx, yy);
                            if (v > best) best = v;
                        }
                    g.Set(x, y, best);
                    setIn[g.Index(x, y)] = static_cast<std::uint16_t>(k);
                    if (reached) reached[g.Index(x, y)] = 1;
                    next.push_back(g.Index(x, y));
                }
        }
        frontier.swap(next);
    }
}

}  // namespace

void RepairSpeckles(MapRunState& state, const BuildHelpers& helpers)
{
    StateGrid g(state);
    if (ThreadsOf(helpers) < 2) {
        RepairIn(g);
        return;
    }
    // The bands of one parity at a time, so that no band reads a column
    // while another writes it; any order gives the same values.
    const std::uint32_t W = g.W(), H = g.H();
    const std::size_t bands = BandsOf(W);
    for (std::size_t parity = 0; parity < 2; ++parity)
        ParallelFor(helpers, (bands + 1 - parity) / 2, [&](std::size_t i) {
            VisitBand(W, H, 2 * i + parity, [&](std::uint32_t x, std::uint32_t y) { RepairAt(g, x, y); });
        });
    ParallelFor(helpers, bands, [&](std::size_t i) {
        VisitBand(W, H, i, [&](std::uint32_t x, std::uint32_t y) { g.Set(x, y, std::fabs(g.Value(x, y))); });
    });
}

void RepairSpeckles(PassWindow& window)
{
    WindowGrid g(window);
    RepairIn(g);
}

void DilateCoverage(MapRunState& state, int rounds, std::vector<std::uint8_t>* reached, const BuildHelpers& helpers)
{
    StateGrid g(state);
    if (reached) reached->assign(static_cast<std::size_t>(g.W()) * g.H(), 0);
    const std::uint32_t W = g.W(), H = g.H();
    DilateIn(g, rounds, reached ? reached->data() : nullptr,
             [&](std::uint16_t* setIn, std::vector<std::size_t>& frontier) {
                 if (ThreadsOf(helpers) < 2) {
                     VisitInOrder(g, [&](std::uint32_t x, std::uint32_t y) { GrowFromCoverage(g, x, y, setIn, frontier); });
                     return;
                 }
                 // Round 1 writes only uncovered texels and reads only covered
                 // ones, so the bands run at once; their frontiers join in order.
                 std::vector<std::vector<std::size_t>> parts(BandsOf(W));
                 ParallelFor(helpers, parts.size(), [&](std::size_t i) {
                     VisitBand(W, H, i, [&](std::uint32_t x, std::uint32_t y) { GrowFromCoverage(g, x, y, setIn, parts[i]); });
                 });
                 for (const std::vector<std::size_t>& part : parts) frontier.insert(frontier.end(), part.begin(), part.end());
             });
}

void DilateCoverage(PassWindow& window, int rounds)
{
    WindowGrid g(window);
    window.reached.assign(static_cast<std::size_t>(g.W()) * g.H(), 0);
    DilateIn(g, rounds, window.reached.data(), [&](std::uint16_t* setIn, std::vector<std::size_t>& frontier) {
        VisitInOrder(g, [&](std::uint32_t x, std::uint32_t y) { GrowFromCoverage(g, x, y, setIn, frontier); });
    });
}

}  // namespace dunsmere
