// What the mesh file readers and writers share behind app/mesh/mesh_files.h,
// which dispatches to them by extension.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "app/mesh/mesh_file.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

// THREADS above 1 reads a large file in as many parts side by side; the mesh
// file and any error are those of one thread. CHECK is the mesh's outcome of
// the rule every mesh read obeys (app/mesh/mesh_check.h).
MeshFile ReadObjFile(const std::string& path, int threads, MeshCheck& check);
MeshFile ReadAssimpFile(const std::string& path, const MeshReading& reading);
bool AssimpReads(const std::string& extension);

// THREADS above 1 formats the text in as many parts side by side.
void WriteObjFile(const MeshFile& original, const Mesh& changed, const std::string& path, int threads);
void WritePlyFile(const Mesh& changed, const std::string& path);
void WriteGltfFile(const MeshFile& original, const Mesh& changed, const std::string& path, bool binary);

// Assimp's part comes from a module of its own (app/codec_modules.h), whose
// entry kMeshCodecEntry returns this table. The build names its file.
struct MeshCodecTable {
    bool (*reads)(const std::string& extension);  // whether assimp reads the extension
    // The import child's whole answer for PATH (app/mesh/import_stream.h).
    std::string (*importAnswer)(const std::string& path);
    decltype(&WriteGltfFile) writeGltf;
};
inline constexpr const char* kMeshCodecEntry = "DunsmereMeshCodecs";
// The table, or null with REASON saying why the module could not be had.
const MeshCodecTable* MeshCodecs(std::string& reason);

// The mesh's vertices as files with one colour per vertex need them: one
// output vertex per distinct (vertex, colour) pair over the face corners, in
// the mesh's vertex order with the copies of a vertex side by side. Where
// every corner's colour vertex is its vertex this is the mesh's own vertex
// list. A vertex no face uses keeps colour vertex i where there is one and is
// white otherwise. Throws MeshFileError naming PATH for indices out of range.
struct ColoredVertices {
    bool colored = false;                    // the mesh has a colour channel
    std::vector<DWORD> vertex;               // output vertex -> mesh vertex
    std::vector<VertColor> color;            // output vertex -> colour (when colored)
    std::vector<std::array<DWORD, 3>> faces;  // the mesh's faces on output vertices
};
ColoredVertices SplitVerticesByColor(const Mesh& mesh, const std::string& path);

}  // namespace dunsmere
