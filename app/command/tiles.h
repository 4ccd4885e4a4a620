// UDIM tiles: a map laid over several unit squares of UV space, tile
// 1001 + u + 10 v holding u..u+1 by v..v+1, each baked as its own map. The
// plug-in bakes the unit square alone, so the host hands it the mesh with its
// map channel shifted by (-u, -v), tile by tile: the map of a tile is then the
// bake of the shifted mesh, bit for bit, as the plug-in's own range test
// picks the tile's faces out of the shifted channel. The shift is exact in
// single precision for every tile here (u below 10, v below 100): u - k for
// an integer k in u's own range loses no bit.
//
// User-interface thread; the functions are pure but for TileShift.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/face_rule.h"
#include "host/mesh.h"

namespace dunsmere {

inline constexpr int kTileColumns = 10;  // u from 0 to 9
inline constexpr int kTileRows = 100;    // v from 0 to 99
inline constexpr int kFirstTile = 1001;
inline constexpr int kLastTile = kFirstTile + kTileColumns * kTileRows - 1;

inline int TileNumber(int u, int v) { return kFirstTile + u + kTileColumns * v; }
inline int TileU(int tile) { return (tile - kFirstTile) % kTileColumns; }
inline int TileV(int tile) { return (tile - kFirstTile) / kTileColumns; }

// Whether PATTERN names a tile: "<UDIM>", as USD, Blender and Mari write it,
// or "{udim}".
bool NamesTile(const std::string& pattern);
// PATTERN with every tile token replaced by TILE's number.
std::string TileOutput(const std::string& pattern, int tile);

// "1001,1003-1005" as ascending tile numbers, each once; nullopt when
// malformed or naming a number outside kFirstTile..kLastTile.
std::optional<std::vector<int>> ParseTiles(const std::string& text);

// The tiles a face is baked in: those whose shifted coordinates pass the
// map's range test at every corner, in ascending order (at most four, where
// a face lies on a border within the test's margin). None for a face that
// crosses a border, lies outside the tiles, or has a coordinate that is
// not a number. The corners are the channel's map vertices T0, T1, T2.
std::vector<int> TilesOfFace(const UVVert& t0, const UVVert& t1, const UVVert& t2);

// Where a map of FILTER's channel puts the faces the filter keeps.
struct TileSplit {
    struct Tile {
        int tile = 0;
        int faces = 0;  // faces baked in it
    };
    std::vector<Tile> tiles;  // ascending; only tiles that hold a face
    int baked = 0;            // faces baked in at least one tile
    int crossing = 0;         // every corner lies in some tile, but no tile holds all three
    // A corner in no tile (u < 0, v < 0, u >= 10, ...) or not a number, a
    // map index the channel lacks, or no channel at all.
    int outOfRange = 0;
    int notSelected = 0, otherMaterial = 0;  // the filter's other rules
};
TileSplit SplitByTile(const Mesh& mesh, const MapFaceFilter& filter);

// The split's faces of TILE; 0 for a tile it does not hold.
int FacesInTile(const TileSplit& split, int tile);

// Whether SPLIT is a UDIM layout: some face lies in a tile beside 1001. A
// face that only crosses the unit square's border is out of range, as ever.
bool UsesTiles(const TileSplit& split);

// The share of each of SPLIT's tiles that its faces cover, as
// app/mesh/uv_cover.h's UvCoverage measures the unit square, in SPLIT's order.
// SPLIT is MESH's under a filter of CHANNEL alone.
std::vector<double> TileCoverages(const Mesh& mesh, int channel, const TileSplit& split);

// Shifts a mesh's map channel to one tile after another and puts it back as
// it was, bit for bit, when it ends. The mesh must outlive it and keep its
// map vertex count meanwhile.
class TileShift {
public:
    TileShift(Mesh& mesh, int channel);
    ~TileShift();
    TileShift(const TileShift&) = delete;
    TileShift& operator=(const TileShift&) = delete;

    // The channel as read, moved by (-u, -v) of TILE.
    void To(int tile);

private:
    Mesh& mesh_;
    int channel_;
    std::vector<UVVert> original_;
};

}  // namespace dunsmere
