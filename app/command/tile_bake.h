// A map whose output names UDIM tiles: the tiles are chosen and refused
// before the first bake, then "Generate" is pressed once per tile with the
// mesh's map channel shifted onto that tile (app/command/tiles.h). The
// plug-in stays open throughout, so the mesh as a whole occludes every tile
// and its ray scene, which only the map coordinates would change, is built
// once; each tile is its own map, padded within itself.
//
// User-interface thread, with the panel open.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/command/bake_report.h"
#include "app/command/options.h"
#include "app/command/tiles.h"
#include "app/image/file_bitmaps.h"
#include "app/session/panel.h"
#include "app/session/standalone_host.h"

namespace dunsmere {

// What one tile's bake came to.
struct TileResult {
    int tile = 0;
    std::string output;
    int faces = 0;  // the faces baked in it
    bool written = false;
    BakeReport::Values value;
    double bakeSeconds = 0.0, writeSeconds = 0.0;
};

struct TiledRun {
    TileSplit split;
    std::vector<int> tiles;  // to bake, ascending
    std::vector<TileResult> results;  // those begun, in order
    // A bake from high-poly meshes: its tiles' counts together.
    std::optional<RunOutcome::Projection> projected;
};

// The tiles a run of O bakes from NODE's mesh under FILTER: every tile that
// holds a face, or of them those --tiles names. Says once how many faces are
// left out and why, crossing faces included, unless quiet. Throws
// CommandError (usage) as RefuseUselessMap does for a mesh without the
// channel, when no face would be baked in a chosen tile, and when a tile's
// file cannot be written (refusals.h).
TiledRun PlanTiles(const CommandOptions& o, SceneNode& node, const MapFaceFilter& filter);

// Bakes RUN's tiles in turn into their files, and each tile's miss map into
// its file where O asks, until one is cancelled, refused or not written. The mesh's channel is as it was afterwards.
void BakeTiles(const CommandOptions& o, StandaloneHost& host, FileBitmapManager& bitmaps, const Panel& panel,
               TiledRun& run);

// Whether every tile of RUN was written.
bool AllTilesWritten(const TiledRun& run);

// The report of a tiled run: its tiles, and the run's faces, outputs, value
// and bake and write seconds as the tiles' together.
void NoteTiles(const TiledRun& run, BakeReport& report);

// What a tiled run says on stderr at its end: the bake's time when every
// tile was written, and each file written.
void ReportTiles(const TiledRun& run);

}  // namespace dunsmere
