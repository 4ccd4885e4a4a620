// What a bake hands back to Python: the map or the colours as numpy arrays,
// and the stats the command prints with --json.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "app/session/session.h"

namespace dunsmere {

struct MapResult {
    pybind11::array levels;  // uint16, height x width, row 0 at the top
    pybind11::object alpha;  // uint16 like levels, or None without coverage alpha
    pybind11::array coverage;  // the map's alpha whether or not it means anything, for an RGBA save
    pybind11::dict stats;
    // A bake from high-poly meshes: {samples, missed, front, rear}, the
    // reach in mesh units; None otherwise. The miss map (uint16 like
    // levels) where it was asked for, else None.
    pybind11::object projection, missMap;
    bool cancelled = false;  // a partial map, kept after a cancel
    int threads = 0;
    double sessionSeconds = 0.0;  // the session's own Generate, for the bench

    // Through the command's image writers, temporary file then rename.
    void Save(const std::string& path, const std::string& channels, int bitDepth) const;
};

struct ColorsResult {
    pybind11::array cornerColors;  // float32, faces x 3 x 3
    pybind11::object vertexGrey;   // float32 a vertex, or None
    pybind11::dict stats;
    pybind11::object projection;   // as MapResult's

};

// The outcome's map, moved into numpy without a copy.
MapResult MapOf(const MeshFile& mesh, BakeOutcome& outcome, bool coverageAlpha, int threads);
ColorsResult ColorsOf(const MeshFile& mesh, const BakeOutcome& outcome);

}  // namespace dunsmere
