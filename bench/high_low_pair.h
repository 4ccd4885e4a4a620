// The high-to-low bench pair: a low torus of 25600 triangles with one UV
// chart over the whole map, and a high mesh of 2.56 M triangles made from it
// by cutting each low triangle into 10 x 10 and pushing every vertex along
// the low's averaged normal by a fixed sum of waves, at most 1 % of the low's
// bounding-box diagonal either way. Both have one smoothing group; the high
// one has no UVs. Its subdivision shares every vertex between neighbouring
// triangles, so the high surface is closed like the low.
//
// Same bytes every run on every machine: the waves are constants, and the
// coordinates are written as the shortest text that reads back as the float
// the reader will hold.
#pragma once

#include <string>

struct HighLowPair {
    std::string low, high;  // the files' paths
    int lowFaces = 0, highFaces = 0;
};

// Writes DIR/high-low-low.obj and DIR/high-low-high.obj, replacing them;
// throws std::runtime_error when a file cannot be written.
HighLowPair WriteHighLowPair(const std::string& dir);
