// Meshes between numpy and the host: the arrays a caller gives, checked row
// by row and copied once into a host mesh, and a host mesh's arrays back.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

// dunsmere.Mesh: immutable, so that bakes in several threads may share it.
struct PyMesh {
    std::shared_ptr<const MeshFile> file;
};

// The path of a mesh made from arrays, which has no file.
inline constexpr const char* kArraysName = "mesh";

// Every array optional but the first two; throws ValueError naming the
// array and its first bad row.
struct MeshArrays {
    pybind11::object vertices, faces, uvs, uvFaces, channels, smoothingGroups, cornerNormals, materialIds,
        selectedFaces;
    std::optional<double> smoothAngle;
};
PyMesh MeshFromArrays(const MeshArrays& arrays);

// The arrays of MESH as Mesh's constructor takes them, by its keywords.
pybind11::dict MeshToArrays(const MeshFile& mesh);

// Corner colours (faces x 3 x 3) as the colour channel of a copy of MESH,
// one colour vertex per corner; throws ValueError for another shape.
MeshFile WithCornerColours(const MeshFile& mesh, const pybind11::object& colours);

}  // namespace dunsmere
