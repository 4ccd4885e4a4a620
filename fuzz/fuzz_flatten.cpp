// Our side of an assimp import on any bytes: assimp in process, as the
// import child runs it, then the flattening and the answer's round trip
// through its stream. Crashes inside assimp itself are its own; the import
// child turns them into an input error.
#include <assimp/Importer.hpp>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <cstdint>

#include "app/mesh/import_flatten.h"
#include "app/mesh/import_stream.h"
#include "app/mesh/mesh_file.h"
#include "fuzz_target.h"

using namespace dunsmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks the format hint; assimp also sniffs the content.
    const char* const hints[] = {"ply", "stl", "gltf", "glb", "off", "dae", "3ds", "fbx"};
    if (size < 1) return 0;
    const char* hint = hints[data[0] % 8];
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(data + 1, size - 1,
                                                       aiProcess_Triangulate | aiProcess_ValidateDataStructure, hint);
    if (!scene) return 0;
    ImportedScene flat;
    try {
        flat = FlattenScene(*scene, "input", FileNormals::kKeep);
    } catch (const MeshFileError&) {
        return 0;
    }
    const std::string bytes = EncodeImportedScene(flat);
    try {
        const ImportedScene back = DecodeImportAnswer(bytes, "input");
        if (back.verts.size() != flat.verts.size() || back.triangles.size() != flat.triangles.size() ||
            back.normals.size() != flat.normals.size())
            FuzzFinding("the answer's stream changed the scene");
    } catch (const MeshFileError& e) {
        // Values the stream refuses (a non-finite number, say) are input
        // errors; a scene our own encoder cannot round-trip otherwise is not.
        const std::string why = e.what();
        if (why.find("finite") == std::string::npos) FuzzFinding(e.what());
    }
    return 0;
}
