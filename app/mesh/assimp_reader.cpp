// Every mesh format but OBJ, read through assimp and flattened into one mesh
// (app/mesh/import_flatten.h).
//
// Assimp is not trusted with the command's process: a file cut short, a
// header that never ends or a node graph that doubles at every level makes
// it crash, spin or allocate without end. So it runs in a child process
// under limits (app/mesh/import_child.h), and what it sends back is decoded
// and checked like any other input (app/mesh/import_stream.h).
//
// Only triangulation and assimp's own check of its data structure run on
// the imported scene: any other post-processing would change the geometry
// the bake sees. The smoothing groups come from the file's normals or the
// smooth angle (app/mesh/smoothing.h); normals that assimp made up, and
// STL's facet normals, say nothing about which edges are meant smooth.
// Assimp's material index is the material ID, and the scene's material
// names are kept by index. A vertex without UV set k maps to (0, 0, 0); one
// without colour set 0 is white.

#include <sys/stat.h>

#include <algorithm>

#include "app/codec_modules.h"
#include "app/mesh/import_child.h"
#include "app/mesh/import_stream.h"
#include "app/mesh/mesh_formats.h"
#include "app/mesh/smoothing.h"

namespace dunsmere {

namespace {

const char* Why(ChildEnd end)
{
    switch (end) {
    case ChildEnd::kOutOfMemory: return "could not be read (the importer ran out of memory)";
    case ChildEnd::kTookTooLong: return "could not be read (the importer took too long)";
    default: return "could not be read (the importer crashed)";
    }
}

MeshFile ToMeshFile(ImportedScene&& scene, const std::string& path, double smoothAngle)
{
    MeshFile file;
    file.format = MeshFormat::kAssimp;
    Mesh& out = file.mesh;
    const int faces = static_cast<int>(scene.triangles.size());
    out.setNumVerts(static_cast<int>(scene.verts.size()));
    std::copy(scene.verts.begin(), scene.verts.end(), out.verts.begin());
    out.setNumFaces(faces);
    for (int f = 0; f < faces; ++f) {
        const ImportedTriangle& tri = scene.triangles[static_cast<size_t>(f)];
        out.faces[f].setVerts(tri.v[0], tri.v[1], tri.v[2]);
        out.faces[f].flags = tri.material << 16;
    }
    std::vector<Point3> cornerNormals;
    if (!scene.normals.empty()) {
        cornerNormals.reserve(scene.triangles.size() * 3);
        for (const ImportedTriangle& tri : scene.triangles)
            for (std::uint32_t corner : tri.flat) cornerNormals.push_back(scene.normals[corner]);
    }
    SmoothMeshFile(file, path, cornerNormals, smoothAngle);
    const int flat = static_cast<int>(scene.flatCount);
    auto cornerFaces = [&](TVFace* tf) {
        for (int f = 0; f < faces; ++f) {
            const ImportedTriangle& tri = scene.triangles[static_cast<size_t>(f)];
            tf[f].setTVerts(tri.flat[0], tri.flat[1], tri.flat[2]);
        }
    };
    for (unsigned k = 0; k < kImportUVSets; ++k) {
        if (scene.uvs[k].empty()) continue;
        const int channel = static_cast<int>(k) + 1;
        out.setNumMapVerts(channel, flat);
        std::copy(scene.uvs[k].begin(), scene.uvs[k].end(), out.mapVerts(channel));
        cornerFaces(out.mapFaces(channel));
    }
    if (!scene.colors.empty()) {
        out.setNumVertCol(flat);
        std::copy(scene.colors.begin(), scene.colors.end(), out.vertCol());
        out.setNumVCFaces(faces);
        cornerFaces(out.vcFace());
        file.hadColors = true;
    }
    file.materialNames = std::move(scene.materialNames);
    if (scene.ignoredPrimitives > 0)
        file.warnings.push_back(path + ": " + std::to_string(scene.ignoredPrimitives) +
                                " point and line primitives ignored");
    return file;
}

}  // namespace

// Defined in a program linked with the mesh codec module's objects.
extern "C" __attribute__((weak)) const MeshCodecTable* DunsmereMeshCodecs();

const MeshCodecTable* MeshCodecs(std::string& reason)
{
    return CodecTable(DunsmereMeshCodecs, DUNSMERE_MESH_CODECS, kMeshCodecEntry, reason);
}

bool AssimpReads(const std::string& extension)
{
    std::string reason;
    const MeshCodecTable* codecs = MeshCodecs(reason);
    // Without its module the read itself says what is missing.
    return !codecs || codecs->reads(extension);
}

MeshFile ReadAssimpFile(const std::string& path, const MeshReading& reading)
{
    struct stat info {};
    const std::uint64_t size = stat(path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    // Loaded here, before the fork: the child only runs it.
    std::string reason;
    const MeshCodecTable* codecs = MeshCodecs(reason);
    if (!codecs) throw MeshFileError(path, reason);
    const ChildResult child = RunInChild(ImportLimitsFor(size, reading.limitFactor), reading.cancelled,
                                         [&] { return codecs->importAnswer(path); });
    if (child.end == ChildEnd::kCancelled) throw MeshReadCancelled();
    if (child.end != ChildEnd::kAnswered) throw MeshFileError(path, Why(child.end));
    return ToMeshFile(DecodeImportAnswer(child.answer, path), path,
                      reading.smoothAngle.value_or(kDefaultSmoothAngle));
}

}  // namespace dunsmere
