// The mesh files' vocabulary: a mesh file as read, and the one error that
// reading or writing one throws. A leaf: the readers, the writers, the
// dispatch and the command all build on it.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/mesh.h"

namespace dunsmere {

// What every reader and writer of mesh files throws: the file, the line
// where the input has lines (0 otherwise), and why. what() reads
// "FILE: WHY", or "FILE:LINE: WHY".
class MeshFileError : public std::runtime_error {
public:
    MeshFileError(const std::string& file, const std::string& why, int line = 0);
    const std::string& file() const { return file_; }
    int line() const { return line_; }

private:
    std::string file_;
    int line_ = 0;
};

inline MeshFileError::MeshFileError(const std::string& file, const std::string& why, int line)
    : std::runtime_error(file + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + why),
      file_(file), line_(line)
{
}

// What a read of a mesh file is thrown out with when the user cancels it:
// not an input error, the run ends as cancelled.
class MeshReadCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "reading cancelled"; }
};

// How a mesh file is read. Files read through assimp are imported in a child
// process whose limits (app/mesh/import_child.h) LIMIT_FACTOR multiplies;
// CANCELLED, when given, is asked while the child runs and a true answer
// ends the read with MeshReadCancelled. SMOOTH_ANGLE, in degrees, decides
// the hard edges (app/mesh/smoothing.h) where the file gives no normals;
// unset, a file read through assimp takes the default and an OBJ keeps the
// groups of its s lines.
// THREADS above 1 reads a large OBJ file in parts side by side.
struct MeshReading {
    double limitFactor = 1.0;
    bool (*cancelled)() = nullptr;
    std::optional<double> smoothAngle;
    int threads = 1;
};

enum class MeshFormat { kObj, kAssimp };

// An OBJ line kept for writing back (mtllib, usemtl, s, g or o): its text as
// read, without comment or surrounding blanks, and how many triangles came
// before it.
struct ObjLine {
    int face = 0;
    std::string text;
};

// How one OBJ triangle referred to its corners, beyond the mesh itself.
struct ObjCorners {
    bool uv = false;               // the face had texture indices
    int normal[3] = {-1, -1, -1};  // zero-based vn index per corner, -1 for none
};

// A mesh file as read: the Editable Mesh's mesh and what writing it back needs.
struct MeshFile {
    Mesh mesh;
    std::string path;
    MeshFormat format = MeshFormat::kObj;
    // Material names by material ID; shorter than the highest ID + 1 where
    // faces use a material no name was given for.
    std::vector<std::string> materialNames;
    // Whether the file gave vertex colours (channel 0 then exists).
    bool hadColors = false;
    // What reading found doubtful but kept, each naming the file; the
    // command prints them as warnings.
    std::vector<std::string> warnings;

    // OBJ input only.
    std::vector<ObjLine> objLines;     // in file order
    std::vector<Point3> objNormals;    // the vn lines
    std::vector<ObjCorners> objFaces;  // one per triangle of the mesh
};

}  // namespace dunsmere
