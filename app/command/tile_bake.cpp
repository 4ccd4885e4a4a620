#include "app/command/tile_bake.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/command/command.h"
#include "app/command/info.h"
#include "app/command/projection_report.h"
#include "app/command/refusals.h"
#include "app/command/signals.h"
#include "app/mesh/uv_cover.h"

namespace dunsmere {

namespace {

// "3 cross a tile border, 2 not selected": the reasons SPLIT leaves faces
// out for, with COUNT how many in all.
std::string Reasons(const TileSplit& split, int& count)
{
    std::string text;
    count = 0;
    const auto add = [&](int n, const char* why) {
        if (n == 0) return;
        text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + why;
        count += n;
    };
    add(split.crossing, "cross a tile border");
    add(split.outOfRange, "map coordinates outside the tiles");
    add(split.notSelected, "not selected");
    add(split.otherMaterial, "other material IDs");
    return text;
}

// UV faces that overlap by area within the tile, at the map's size, as a
// single map warns of them; the channel is on the tile already.
void WarnOfOverlap(const Mesh& mesh, const Panel& panel, int tile)
{
    const int width = static_cast<int>(panel.ReadFloat("width")), height = static_cast<int>(panel.ReadFloat("height"));
    const UvOverlap overlap = MeasureUvOverlap(mesh, panel.MapFilter().mapChannel, width, height);
    if (overlap.faces > 0)
        std::fprintf(stderr, "dunsmere: warning: tile %d: %s at %dx%d\n", tile,
                     CoveredTwice(overlap.faces, overlap.share).c_str(), width, height);
}

std::string TileList(const std::vector<int>& tiles)
{
    std::string text;
    for (const int tile : tiles) text += (text.empty() ? "" : ",") + std::to_string(tile);
    return text;
}

}  // namespace

TiledRun PlanTiles(const CommandOptions& o, SceneNode& node, const MapFaceFilter& filter)
{
    const Mesh& mesh = node.CurrentMesh();
    const std::string& file = node.File().path;
    TiledRun run;
    // Without the channel, no tile differs from the plain map's refusal.
    if (mesh.getNumFaces() > 0 && MapFaceExclusion(mesh, filter, 0) == FaceExclusion::kNoMapChannel)
        RefuseUselessMap(node, filter);
    run.split = SplitByTile(mesh, filter);
    std::vector<int> empty;
    for (const TileSplit::Tile& t : run.split.tiles)
        if (o.tiles.empty() || std::binary_search(o.tiles.begin(), o.tiles.end(), t.tile)) run.tiles.push_back(t.tile);
    for (const int tile : o.tiles)
        if (FacesInTile(run.split, tile) == 0) empty.push_back(tile);
    int left = 0;
    const std::string why = Reasons(run.split, left);
    if (run.tiles.empty()) {
        const std::string where = o.tiles.empty() ? "any tile" : "tiles " + TileList(o.tiles);
        throw CommandError(kExitUsage, file + ": no face would be baked in " + where +
                                           (why.empty() ? "" : " (" + why + ")"));
    }
    if (!o.quiet && left > 0)
        std::fprintf(stderr, "Dunsmere: %d of %d faces will not be baked (%s)\n", left, mesh.getNumFaces(),
                     why.c_str());
    if (!o.quiet && !empty.empty())
        std::fprintf(stderr, "dunsmere: warning: %s: no face lies in tile %s: not baked\n", file.c_str(),
                     TileList(empty).c_str());
    CommandOptions chosen = o;
    chosen.tiles = run.tiles;
    RefuseUnwritableOutputs(chosen, {o.output}, {SideFiles{o.highs, o.cage, o.missMap}});
    return run;
}

void BakeTiles(const CommandOptions& o, StandaloneHost& host, FileBitmapManager& bitmaps, const Panel& panel,
               TiledRun& run)
{
    TileShift shift(host.selection[0]->CurrentMesh(), panel.MapFilter().mapChannel);
    const RunTimings before = host.timings;
    const auto start = std::chrono::steady_clock::now();
    for (const int tile : run.tiles) {
        TileResult& r = run.results.emplace_back();
        r.tile = tile;
        r.output = TileOutput(o.output, tile);
        r.faces = FacesInTile(run.split, tile);
        shift.To(tile);
        bitmaps.SetOutputPath(r.output);
        // Each tile's phases on a clock of their own: a mark counts once.
        host.timings = RunTimings();
        if (!o.quiet) {
            std::fprintf(stderr, "dunsmere: tile %d: %d faces\n", tile, r.faces);
            WarnOfOverlap(host.selection[0]->CurrentMesh(), panel, tile);
        }
        panel.Press("generate");
        host.timings.Record(RunTimings::kClose);
        if (o.timings) std::fputs(host.timings.Line().c_str(), stderr);
        r.bakeSeconds = host.timings.Seconds(RunTimings::kBuild, RunTimings::kWrite);
        r.writeSeconds = host.timings.Seconds(RunTimings::kWrite, RunTimings::kClose);
        // A tile whose write never came leaves the last tile's path behind.
        r.written = bitmaps.Written() && bitmaps.WrittenPath() == r.output;
        if (const std::optional<RunOutcome::Projection>& p = host.outcome.projection) {
            AddProjection(run.projected ? *run.projected : run.projected.emplace(), *p);
            if (r.written && !o.missMap.empty()) WriteMissMap(TileOutput(o.missMap, tile), *p, host.workerThreads);
            host.outcome.projection.reset();
        }
        if (r.written) {
            const FileBitmapManager::Levels& levels = bitmaps.WrittenLevels();
            r.value = {true, levels.min / 65535.0, levels.max / 65535.0, levels.mean / 65535.0};
        }
        if (!r.written || host.outcome.refused || host.outcome.cancelReached || CancelSignal()) break;
    }
    // The run's own phases see the tiles as one build, which ran to the end.
    host.timings = before;
    host.timings.Record(RunTimings::kBuild, start);
}

bool AllTilesWritten(const TiledRun& run)
{
    return !run.tiles.empty() && run.results.size() == run.tiles.size() &&
           std::all_of(run.results.begin(), run.results.end(), [](const TileResult& r) { return r.written; });
}

// A tiled run's report: each tile's, and the run's as their sum.
void NoteTiles(const TiledRun& tiled, BakeReport& report)
{
    const TileSplit& split = tiled.split;
    report.faces = {split.baked, split.notSelected, split.otherMaterial, split.outOfRange};
    report.crossingFaces = split.crossing;
    double sum = 0.0;
    int written = 0;
    for (const TileResult& r : tiled.results) {
        report.tiles.push_back({r.tile, r.written ? r.output : "", r.faces, r.value});
        report.seconds.bake += r.bakeSeconds;
        report.seconds.write += r.writeSeconds;
        if (!r.written) continue;
        report.outputs.push_back(r.output);
        // Every tile has the map's size: the mean of the means is the mean.
        report.value.min = written == 0 ? r.value.min : std::min(report.value.min, r.value.min);
        report.value.max = written == 0 ? r.value.max : std::max(report.value.max, r.value.max);
        sum += r.value.mean;
        ++written;
    }
    report.value.known = written > 0;
    report.value.mean = written > 0 ? sum / written : 0.0;
    report.tiled = true;
}

// What a tiled run says at its end: each tile written, and the bake's time.
void ReportTiles(const TiledRun& tiled)
{
    double seconds = 0.0;
    for (const TileResult& r : tiled.results) seconds += r.bakeSeconds;
    if (AllTilesWritten(tiled))
        std::fprintf(stderr, "dunsmere: baked %zu %s in %.1f s\n", tiled.results.size(),
                     tiled.results.size() == 1 ? "tile" : "tiles", seconds);
    for (const TileResult& r : tiled.results)
        if (r.written) std::fprintf(stderr, "dunsmere: wrote %s\n", r.output.c_str());
}

}  // namespace dunsmere
