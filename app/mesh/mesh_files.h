// The standalone host's mesh files. Each file becomes one Editable Mesh: a
// host Mesh plus what it takes to write the file back.
//
// Wavefront OBJ (.obj, any letter case) goes through our own line reader,
// which refuses what it cannot read exactly; every other extension goes to
// assimp, run in a child process under limits, whose scene is flattened into
// one mesh. Writing serves the vertex
// colour output: .obj, .ply, .glb and .gltf (whose buffer goes to a .bin
// file of the same stem beside it), the format chosen by the extension. A
// write goes to a fresh temporary beside the target and is renamed over it at
// the end, so the target is always either the old file or the complete new
// one. Failures throw MeshFileError (app/mesh/mesh_file.h).
#pragma once

#include <string>
#include <string_view>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

// Throws MeshFileError "PATH: not a regular file" at once for a FIFO, a
// device or a directory, symbolic links followed; MeshReadCancelled when
// READING's cancel is answered yes.
MeshFile ReadMeshFile(const std::string& path, const MeshReading& reading = {});

// Writes CHANGED, read from ORIGINAL and normally differing from it only in
// its vertex colours, to PATH in the format PATH's extension names (the
// format it was read from does not matter). ORIGINAL supplies the material
// names and, for an OBJ written back while CHANGED has ORIGINAL's faces, the
// lines and normals kept from the file; a default MeshFile writes the mesh
// alone.
// Where a vertex's corners have different colours the vertex is written once
// per colour. Nothing is written, and PATH stays as it was, when the mesh
// cannot be written: indices out of range, or (for .obj and .gltf/.glb) a
// number that is not finite. THREADS above 1 lets an OBJ's text be made on
// as many threads; the file and any error are those of one thread.
void WriteMeshFile(const MeshFile& original, const Mesh& changed, const std::string& path, int threads = 1);

// Whether WriteMeshFile takes PATH's extension: .obj, .ply, .glb or .gltf.
bool CanWriteMesh(std::string_view path);
// The writable extensions, for messages.
const char* WritableMeshExtensions();
// Whether ReadMeshFile knows PATH's extension (.obj or one assimp reads).
bool CanReadMesh(std::string_view path);

}  // namespace dunsmere
