#include "map/detail/supersample.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "map/detail/mapped_faces.h"
#include "map/detail/passes.h"
#include "map/detail/rasterize.h"
#include "map/detail/texel_workers.h"

namespace dunsmere {

namespace {

// A band's records hold about this many texels, and at least two rows.
constexpr std::uint64_t kBandTexels = std::uint64_t{1} << 20;

std::uint32_t BandRows(const MapRunState& state, std::uint32_t width)
{
    std::uint64_t rows = state.bandRows > 0 ? state.bandRows : kBandTexels / std::max<std::uint32_t>(width, 1);
    rows = std::max<std::uint64_t>(2, (rows + 1) & ~std::uint64_t{1});  // even: a band keeps its rows' parity
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, 0x80000000u));
}

// The fine map's rows that the passes still need, row by row, each row
// left to right.
struct RowWindow {
    std::uint32_t width = 0;
    std::uint32_t first = 0;  // the fine map's row of the window's row 0
    std::vector<std::int32_t> faces;
    std::vector<float> values;
    std::vector<std::uint8_t> missed;  // kept with recordMisses alone

    std::uint32_t End() const { return first + static_cast<std::uint32_t>(faces.size() / width); }

    void Append(const MapRunState& band)
    {
        const std::uint32_t rows = band.TexelGrid.InnerCount(0);
        const std::size_t base = faces.size();
        faces.resize(base + static_cast<std::size_t>(rows) * width);
        values.resize(faces.size());
        const bool misses = band.recordMisses;
        if (misses) missed.resize(faces.size());
        for (std::uint32_t x = 0; x < width; ++x) {
            const TexelRecord* records = band.TexelGrid.Inner(x);
            const float* v = band.TexelValues.Inner(x);
            for (std::uint32_t r = 0; r < rows; ++r) {
                faces[base + static_cast<std::size_t>(r) * width + x] = records[r].face;
                values[base + static_cast<std::size_t>(r) * width + x] = v[r];
                if (misses)
                    missed[base + static_cast<std::size_t>(r) * width + x] =
                        band.missedSubTexels[static_cast<std::size_t>(x) * rows + r];
            }
        }
    }

    void DropBelow(std::uint32_t row)
    {
        if (row <= first) return;
        const std::size_t n = static_cast<std::size_t>(row - first) * width;
        faces.erase(faces.begin(), faces.begin() + static_cast<std::ptrdiff_t>(n));
        values.erase(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(n));
        if (!missed.empty()) missed.erase(missed.begin(), missed.begin() + static_cast<std::ptrdiff_t>(n));
        first = row;
    }
};

class BandedMap {
public:
    BandedMap(const UtilitySettings& settings, MapRunState& state)
        : settings_(settings), state_(state), S_(static_cast<std::uint32_t>(settings.supersample)),
          W_(S_ * static_cast<std::uint32_t>(settings.XSiz)), H_(S_ * static_cast<std::uint32_t>(settings.YSiz)),
          rounds_(settings.supersample * settings.padding), halo_(PassHalo(rounds_))
    {
        window_.width = W_;
        const std::size_t texels = static_cast<std::size_t>(settings.XSiz) * static_cast<std::uint32_t>(settings.YSiz);
        if (settings.coverageAlpha) state.coveredSubTexels.assign(texels, 0);
        if (settings.invertLevels) state.reached.assign(texels, 0);
        if (state.recordMisses) {
            state.missedSubTexels.assign(texels, 0);
            state.projectedSubTexels.assign(texels, 0);
        }
    }

    std::uint32_t Width() const { return W_; }
    std::uint32_t Height() const { return H_; }

    // Takes the band's rows in; finishes every row whose passes no longer
    // wait on rows below. The last band of a cancelled run ends the map:
    // its rows are finished as far as they make whole blocks, as if the
    // map stopped there.
    void Add(const MapRunState& band, bool last = false)
    {
        window_.Append(band);
        const std::uint32_t end = window_.End();
        const std::uint32_t upTo = end == H_ ? H_ : last ? end / S_ * S_ : end > halo_ ? (end - halo_) / S_ * S_ : 0u;
        // Each finish cleans its halos too: with halos wider than a band,
        // rows are gathered until they outnumber a halo.
        if (upTo <= finished_ || (!last && upTo < H_ && upTo - finished_ < halo_)) return;
        Finish(finished_, upTo);
        finished_ = upTo;
        window_.DropBelow(finished_ > halo_ ? finished_ - halo_ : 0u);
    }

private:
    // Cleans the rows [f0, f1) (multiples of S, or the map's end) with
    // their halos, then writes the block means of their output rows.
    void Finish(std::uint32_t f0, std::uint32_t f1)
    {
        const std::uint32_t lo = std::max(f0 > halo_ ? f0 - halo_ : 0u, window_.first);
        const std::uint32_t hi = std::min({H_, f1 + halo_, window_.End()});
        PassWindow pass;
        pass.width = W_;
        pass.height = hi - lo;
        const std::size_t from = static_cast<std::size_t>(lo - window_.first) * W_;
        const std::size_t to = from + static_cast<std::size_t>(pass.height) * W_;
        pass.faces.assign(window_.faces.begin() + static_cast<std::ptrdiff_t>(from),
                          window_.faces.begin() + static_cast<std::ptrdiff_t>(to));
        pass.values.assign(window_.values.begin() + static_cast<std::ptrdiff_t>(from),
                           window_.values.begin() + static_cast<std::ptrdiff_t>(to));
        RepairSpeckles(pass);
        DilateCoverage(pass, rounds_);

        const std::uint32_t outRows = static_cast<std::uint32_t>(settings_.YSiz);
        const float blockTexels = static_cast<float>(S_ * S_);
        for (std::uint32_t Y = f0 / S_; Y < f1 / S_; ++Y)
            for (std::uint32_t X = 0; X < static_cast<std::uint32_t>(settings_.XSiz); ++X) {
                float sum = 0.0f;
                std::uint32_t covered = 0, reached = 0, missed = 0;
                for (std::uint32_t sy = 0; sy < S_; ++sy) {
                    const std::size_t row = static_cast<std::size_t>(S_ * Y + sy - lo) * W_;
                    for (std::uint32_t sx = 0; sx < S_; ++sx) {
                        const std::size_t i = row + S_ * X + sx;
                        sum += pass.values[i];
                        covered += pass.faces[i] != -1;
                        reached += pass.reached[i];
                        if (!window_.missed.empty()) missed += window_.missed[from + i];
                    }
                }
                state_.TexelValues.Set(X, Y, sum / blockTexels);
                const std::size_t out = static_cast<std::size_t>(X) * outRows + Y;
                if (!state_.coveredSubTexels.empty()) state_.coveredSubTexels[out] = static_cast<std::uint8_t>(covered);
                if (!state_.reached.empty()) state_.reached[out] = reached > 0;
                if (!state_.missedSubTexels.empty()) {
                    state_.missedSubTexels[out] = static_cast<std::uint8_t>(missed);
                    state_.projectedSubTexels[out] = static_cast<std::uint8_t>(covered + missed);
                }
            }
    }

    const UtilitySettings& settings_;
    MapRunState& state_;
    const std::uint32_t S_, W_, H_;
    const int rounds_;
    const std::uint32_t halo_;
    RowWindow window_;
    std::uint32_t finished_ = 0;  // the fine map's rows written out
};

}  // namespace

RunResult RunSupersampledMap(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings,
                             RunTables& tables, MapRunState& state, const TexelEvaluator& evaluator)
{
    BandedMap map(settings, state);
    const std::uint32_t W = map.Width(), H = map.Height();

    // Each face's rows once, so that a band rasterizes only the faces that
    // reach it, still in face order.
    const std::vector<FaceRows> faces =
        GatherFaceRows(hooks, mesh, settings, static_cast<int>(W), static_cast<int>(H), false);
    tables.vertexNormals.BuildVertexNormals(mesh);

    const std::uint32_t bandRows = BandRows(state, W);
    MapRunState band;
    band.progressWrites = state.progressWrites;
    const SampleTables sampleTables{tables.faceNormals, tables.vertexNormals, &tables.scene};
    const int threads = hooks.workerCount();
    const int faceCount = mesh.getNumFaces();
    std::uint64_t drawsAbove[2] = {0, 0};
    RunResult result;
    for (std::uint32_t first = 0; first < H; first += bandRows) {
        const std::uint32_t count = std::min(bandRows, H - first);
        band.TexelGrid.Reset(W, count, kEmptyTexel);
        band.TexelValues.Reset(W, count, 0.0f);
        band.recordMisses = state.recordMisses;
        if (band.recordMisses) band.missedSubTexels.assign(static_cast<std::size_t>(W) * count, 0);
        const MapRows rows{static_cast<int>(H), static_cast<int>(first), count};
        // Each face traced once, in the band of its first row.
        RasterizeBand(band.TexelGrid, rows, faces, mesh, settings.mapChannel, true);

        TexelJob job{mesh, settings, sampleTables, tables.workLock, band};
        job.evaluator = &evaluator;
        job.firstRow = first;
        job.mapRows = H;
        job.drawsAbove[0] = drawsAbove[0];
        job.drawsAbove[1] = drawsAbove[1];
        // Counted from the records before the workers run: an evaluator may
        // find a texel uncovered, but its draw was taken.
        for (std::uint32_t x = 0; x < W; ++x) {
            const TexelRecord* records = band.TexelGrid.Inner(x);
            for (std::uint32_t y = 0; y < count; ++y) drawsAbove[y & 1u] += IsCovered(records[y], faceCount);
        }
        const RunResult r = RunTexelWorkers(hooks, job, threads);
        if (r.startFailed || r.outOfMemory || band.scratchFailed.load()) {
            state.scratchFailed.store(band.scratchFailed.load());
            return r;
        }
        // A cancel stops the run with the band in hand: the bands below
        // would only be rasterized and cleaned to come out black.
        map.Add(band, r.cancelled);
        if (r.cancelled) {
            result.cancelled = true;
            break;
        }
    }
    return result;
}

}  // namespace dunsmere
