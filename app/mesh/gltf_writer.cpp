// glTF 2.0 written for the vertex colour output through assimp's exporter:
// .glb as one binary file, .gltf as JSON with its buffer in a .bin file
// beside it.
//
// glTF keeps one set of attributes per vertex and one material per
// primitive, so the scene handed to the exporter has one mesh per material
// ID the faces use (in ID order, each with a material of that ID's name) and
// in each mesh one vertex per distinct (vertex, colour, texture vertices)
// over its corners. Map channels 1..8 become UV sets 0..7 (u and v only);
// glTF counts v from the top, so the exporter stores 1 - v, and a v read
// back may differ from ours in its last bit. Normals, smoothing groups and
// channels past 8 are not written.
// Every file the exporter opens goes to a pending file, and all are renamed
// into place only when the export has succeeded.

#include <assimp/Exporter.hpp>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"

namespace {

struct Outputs {
    std::vector<std::unique_ptr<PendingFile>> files;
    std::optional<MeshFileError> failure;  // the first file that could not be opened
};

class PendingStream : public Assimp::IOStream {
public:
    explicit PendingStream(PendingFile& file) : file_(file) {}
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t size, size_t count) override
    {
        return size > 0 && count > 0 && file_.TryWrite(buffer, size * count) ? count : 0;
    }
    aiReturn Seek(size_t offset, aiOrigin origin) override
    {
        const int whence = origin == aiOrigin_SET ? SEEK_SET : origin == aiOrigin_CUR ? SEEK_CUR : SEEK_END;
        return file_.Seek(static_cast<long long>(offset), whence) ? aiReturn_SUCCESS : aiReturn_FAILURE;
    }
    size_t Tell() const override { return file_.Tell(); }
    size_t FileSize() const override { return file_.Size(); }
    void Flush() override {}

private:
    PendingFile& file_;
};

// The exporter's file system: it may only write, and only pending files.
// The exporter owns and deletes it; what it opened lives on in OUTPUTS.
class PendingFileSystem : public Assimp::IOSystem {
public:
    explicit PendingFileSystem(Outputs& outputs) : outputs_(outputs) {}
    bool Exists(const char* path) const override
    {
        struct stat st {};
        return ::stat(path, &st) == 0;
    }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* path, const char* mode) override
    {
        if (!path || !mode || mode[0] != 'w') return nullptr;
        try {
            outputs_.files.push_back(std::make_unique<PendingFile>(path));
        } catch (const MeshFileError& e) {
            if (!outputs_.failure) outputs_.failure = e;
            return nullptr;
        }
        return new PendingStream(*outputs_.files.back());
    }
    void Close(Assimp::IOStream* stream) override { delete stream; }

private:
    Outputs& outputs_;
};

void CheckFinite(const Point3& p, const std::string& path, const char* what)
{
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
        throw MeshFileError(path, std::string("cannot write the non-finite number in ") + what);
}

std::string MaterialName(const std::vector<std::string>& names, int id)
{
    const size_t i = static_cast<size_t>(id);
    return i < names.size() && !names[i].empty() ? names[i] : "material_" + std::to_string(id);
}

// The map channels 1..8 worth writing, their faces checked.
std::vector<int> UVChannels(const Mesh& mesh, const std::string& path)
{
    std::vector<int> channels;
    for (int ch = 1; ch <= static_cast<int>(AI_MAX_NUMBER_OF_TEXTURECOORDS); ++ch) {
        const size_t ntv = static_cast<size_t>(mesh.getNumMapVerts(ch));
        if (ntv == 0) continue;
        const TVFace* tf = mesh.mapFaces(ch);
        for (size_t f = 0; f < mesh.faces.size(); ++f)
            for (DWORD t : tf[f].t)
                if (static_cast<size_t>(t) >= ntv)
                    throw MeshFileError(path, "channel " + std::to_string(ch) + " map face " + std::to_string(f) +
                                        " uses map vertex " + std::to_string(t) + " of " + std::to_string(ntv));
        for (size_t t = 0; t < ntv; ++t) CheckFinite(mesh.mapVerts(ch)[t], path, "a map vertex");
        channels.push_back(ch);
    }
    return channels;
}

// One assimp mesh: the faces of material ID, over their own vertices.
aiMesh* BuildMesh(const Mesh& mesh, const ColoredVertices& out, const std::vector<int>& channels, int id,
                  unsigned materialIndex)
{
    // A corner's key: its output vertex, then its texture vertex per channel.
    std::map<std::vector<DWORD>, unsigned> index;
    std::vector<const std::vector<DWORD>*> keys;  // by new vertex
    std::vector<unsigned> corners;
    std::vector<DWORD> key(1 + channels.size());
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        if (mesh.faces[f].getMatID() != id) continue;
        for (size_t k = 0; k < 3; ++k) {
            key[0] = out.faces[f][k];
            for (size_t c = 0; c < channels.size(); ++c) key[c + 1] = mesh.mapFaces(channels[c])[f].t[k];
            const auto [at, added] = index.try_emplace(key, static_cast<unsigned>(keys.size()));
            if (added) keys.push_back(&at->first);
            corners.push_back(at->second);
        }
    }

    auto* am = new aiMesh();
    std::unique_ptr<aiMesh> owner(am);
    const unsigned nv = static_cast<unsigned>(keys.size());
    am->mPrimitiveTypes = aiPrimitiveType_TRIANGLE;
    am->mMaterialIndex = materialIndex;
    am->mNumVertices = nv;
    am->mVertices = new aiVector3D[nv];
    if (out.colored) am->mColors[0] = new aiColor4D[nv];
    for (size_t c = 0; c < channels.size(); ++c) {
        am->mTextureCoords[c] = new aiVector3D[nv];
        am->mNumUVComponents[c] = 2;
    }
    for (unsigned i = 0; i < nv; ++i) {
        const std::vector<DWORD>& k = *keys[i];
        const Point3& p = mesh.verts[out.vertex[k[0]]];
        am->mVertices[i] = aiVector3D(p.x, p.y, p.z);
        if (out.colored) {
            const VertColor& c = out.color[k[0]];
            am->mColors[0][i] = aiColor4D(c.x, c.y, c.z, 1.0f);
        }
        for (size_t c = 0; c < channels.size(); ++c) {
            const UVVert& uv = mesh.mapVerts(channels[c])[k[c + 1]];
            am->mTextureCoords[c][i] = aiVector3D(uv.x, uv.y, 0.0f);
        }
    }
    am->mNumFaces = static_cast<unsigned>(corners.size() / 3);
    am->mFaces = new aiFace[am->mNumFaces];
    for (unsigned f = 0; f < am->mNumFaces; ++f) {
        am->mFaces[f].mNumIndices = 3;
        am->mFaces[f].mIndices = new unsigned[3]{corners[3 * f], corners[3 * f + 1], corners[3 * f + 2]};
    }
    return owner.release();
}

std::unique_ptr<aiScene> BuildScene(const MeshFile& original, const Mesh& changed, const std::string& path)
{
    // The exporter has no way to write a scene without a mesh.
    if (changed.faces.empty()) throw MeshFileError(path, "no faces to write");
    const ColoredVertices out = SplitVerticesByColor(changed, path);
    for (size_t o = 0; o < out.vertex.size(); ++o) {
        CheckFinite(changed.verts[out.vertex[o]], path, "a vertex");
        if (out.colored) CheckFinite(out.color[o], path, "a vertex colour");
    }
    const std::vector<int> channels = UVChannels(changed, path);
    std::vector<int> ids;
    for (const Face& face : changed.faces) ids.push_back(face.getMatID());
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());

    auto scene = std::make_unique<aiScene>();
    const unsigned n = static_cast<unsigned>(ids.size());
    scene->mMeshes = new aiMesh*[n]();
    scene->mMaterials = new aiMaterial*[n]();
    scene->mRootNode = new aiNode("mesh");
    scene->mRootNode->mMeshes = new unsigned[n];
    for (unsigned i = 0; i < n; ++i) {
        scene->mMaterials[i] = new aiMaterial();
        scene->mNumMaterials = i + 1;
        const aiString name(MaterialName(original.materialNames, ids[i]));
        scene->mMaterials[i]->AddProperty(&name, AI_MATKEY_NAME);
        scene->mMeshes[i] = BuildMesh(changed, out, channels, ids[i], i);
        scene->mNumMeshes = i + 1;
        scene->mRootNode->mMeshes[i] = i;
        scene->mRootNode->mNumMeshes = i + 1;
    }
    return scene;
}

}  // namespace

void WriteGltfFile(const MeshFile& original, const Mesh& changed, const std::string& path, bool binary)
{
    const std::unique_ptr<aiScene> scene = BuildScene(original, changed, path);
    Outputs outputs;
    {
        Assimp::Exporter exporter;
        exporter.SetIOHandler(new PendingFileSystem(outputs));
        const aiReturn done = exporter.Export(scene.get(), binary ? "glb2" : "gltf2", path);
        if (outputs.failure) throw *outputs.failure;
        for (const auto& file : outputs.files)
            if (!file->failure().empty()) throw MeshFileError(file->target(), "cannot write: " + file->failure());
        if (done != aiReturn_SUCCESS) throw MeshFileError(path, exporter.GetErrorString());
    }
    // The buffers first: the main file appears only once what it names is there.
    for (const auto& file : outputs.files)
        if (file->target() != path) file->Commit();
    for (const auto& file : outputs.files)
        if (file->target() == path) file->Commit();
}
