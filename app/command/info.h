// `dunsmere info MESH...`: what a bake would see of each mesh, before one
// runs: its size, its map channels and how well their UVs cover the map,
// its materials by the IDs --material-id takes, and its smoothing groups.
// It loads no plug-in and writes nothing.
#pragma once

#include <string>
#include <vector>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

// The map size the overlap is measured at: the panel's default map size,
// so that the figure is the one a bake at the default size warns of. The
// panel's own definition lies in the plug-in, which the command cannot
// include; a command test holds the two together.
inline constexpr int kInfoMapWidth = 200;
inline constexpr int kInfoMapHeight = 200;

// How much of a map overlapping UV faces cover twice, as info shows it and
// a map bake warns of it: "nothing covered twice", "3.20% covered twice
// (14 faces)".
std::string CoveredTwice(int faces, double share);

struct ChannelReport {
    int channel = 0;
    double coverage = 0.0;  // app/mesh/uv_cover.h's UvCoverage
    int facesOutOfRange = 0;
    int overlapFaces = 0;
    double overlapShare = 0.0;  // at kInfoMapWidth x kInfoMapHeight
    // A UDIM layout's tiles (app/command/tiles.h), each with the faces a
    // bake puts in it and the share of it they cover, and the faces that
    // cross a tile border; no tiles when every face lies in tile 1001 or
    // none. Out of range then means outside every tile.
    struct Tile {
        int tile = 0, faces = 0;
        double coverage = 0.0;
    };
    std::vector<Tile> tiles;
    int facesCrossingTiles = 0;
};

struct MaterialReport {
    int id = 0;        // one-based, as --material-id takes it
    std::string name;  // "" where the file named none
    int faces = 0;
};

struct MeshReport {
    std::string file;
    int faces = 0, vertices = 0;
    double diagonal = 0.0;  // of the bounding box of the vertices faces use
    std::vector<ChannelReport> channels;  // the supported map channels, 1..99
    // Every ID some face uses or the file names, ascending.
    std::vector<MaterialReport> materials;
    std::vector<int> smoothingBits;  // the bits (0..31) some face's group sets
    int facesWithoutGroup = 0;
};

MeshReport ReportMesh(const MeshFile& file);

// The report as one object of `info --json`.
std::string MeshReportJson(const MeshReport& report);

// ARGV[1] is "info". Reports each mesh in turn, on stdout; a mesh that
// cannot be read is named on stderr and the others still reported. The exit
// status: 0 when every mesh was read, 2 otherwise or for a bad command line.
int RunInfo(int argc, const char* const* argv);

}  // namespace dunsmere
