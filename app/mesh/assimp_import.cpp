// The mesh codec module: assimp's side of reading (run in the import child,
// app/mesh/assimp_reader.cpp) and the glTF writer (app/mesh/gltf_writer.cpp).
// The import reads files only through app/mesh/beneath_io.h.
#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <exception>
#include <new>

#include "app/file_extension.h"
#include "app/mesh/beneath_io.h"
#include "app/mesh/import_flatten.h"
#include "app/mesh/import_stream.h"
#include "app/mesh/mesh_formats.h"

namespace dunsmere {

namespace {

constexpr unsigned kImportSteps = aiProcess_Triangulate | aiProcess_ValidateDataStructure;

FileNormals NormalsOf(const std::string& path)
{
    constexpr bool made = (kImportSteps & (aiProcess_GenNormals | aiProcess_GenSmoothNormals)) != 0;
    return made || LowerExtension(path) == "stl" ? FileNormals::kIgnore : FileNormals::kKeep;
}

// Runs in the import child: the whole answer, an error included.
std::string ImportAnswer(const std::string& path)
{
    try {
        Assimp::Importer importer;
        // A file of bones alone must not turn into made-up geometry.
        importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
        auto* files = new BeneathIOSystem(path);
        importer.SetIOHandler(files);  // the importer's to delete
        const aiScene* scene = importer.ReadFile(path, kImportSteps);
        if (!files->refusal().empty()) return EncodeImportError(files->refusal());
        if (!scene) return EncodeImportError(importer.GetErrorString());
        return EncodeImportedScene(FlattenScene(*scene, path, NormalsOf(path)));
    } catch (const MeshFileError& e) {
        // The path is the parent's to add.
        return EncodeImportError(std::string(e.what()).substr(path.size() + 2));
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        return EncodeImportError(e.what());
    }
}

bool ReadsExtension(const std::string& extension)
{
    return Assimp::Importer().IsExtensionSupported("." + extension);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const MeshCodecTable* DunsmereMeshCodecs()
{
    static constexpr MeshCodecTable kTable{&ReadsExtension, &ImportAnswer, &WriteGltfFile};
    return &kTable;
}

}  // namespace dunsmere
