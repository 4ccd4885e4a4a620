// What --json prints for a bake: one object per mesh of the batch, in input
// order, as one array on stdout.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/face_rule.h"
#include "host/mesh.h"

namespace dunsmere {

struct BakeReport {
    std::vector<std::string> inputs, outputs;
    // Every key of the settings file the run saved, in file order, with its
    // text; numbers are written as JSON numbers.
    std::vector<std::pair<std::string, std::string>> settings;
    // The power of two, 2^k, by which the mesh, distance and noise size
    // reached the plug-in: its section's dist is the user's distance times it.
    int distanceExponent = 0;
    struct Faces {
        int baked = 0, notSelected = 0, otherMaterial = 0, outOfRange = 0;
    } faces;
    // Of the written output, as 0..1: every texel of a map, the colour of
    // every corner of a baked face for vertex colours. Null when nothing
    // was written.
    struct Values {
        bool known = false;
        double min = 0.0, max = 0.0, mean = 0.0;
    } value;
    // A map baked per UDIM tile: each tile begun, its file ("" when not
    // written), the faces baked in it and its values; and the faces that
    // cross a tile border, which no tile bakes. The run's outputs, faces,
    // value and seconds are then the tiles' together.
    bool tiled = false;
    struct Tile {
        int tile = 0;
        std::string output;
        int faces = 0;
        Values value;
    };
    std::vector<Tile> tiles;
    int crossingFaces = 0;
    struct Seconds {
        double load = 0.0, bake = 0.0, write = 0.0;
    } seconds;
    // A bake from high-poly meshes: the samples projected and those that
    // missed, over every tile.
    struct Projection {
        bool known = false;
        std::int64_t samples = 0, missed = 0;
    } projection;
    int status = 0;
    std::string error;  // why a failed run failed, as its last message said; "" for none
};

// The faces by the map's own rule for a map, by the selection alone for
// vertex colours (the only rule their run has).
BakeReport::Faces CountFaces(const Mesh& mesh, const MapFaceFilter& filter, bool map);

// The grey of every corner of the faces a vertex-colour run baked.
BakeReport::Values CornerValues(const Mesh& mesh, bool selectedOnly);

// Every key=value line of an INI file, sections in file order; none for a
// file that cannot be read.
std::vector<std::pair<std::string, std::string>> SettingsKeys(const std::string& file);

std::string BakeReportsJson(const std::vector<BakeReport>& reports);

}  // namespace dunsmere
