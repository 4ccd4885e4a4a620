#include "app/mesh/import_flatten.h"

#include <assimp/scene.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <unordered_map>
#include <utility>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

static_assert(kImportUVSets == std::min<unsigned>(AI_MAX_NUMBER_OF_TEXTURECOORDS, kMaxMapChannels - 1),
              "a UV set for every map channel assimp can fill");

namespace {

// A position as welding compares it: by value, so -0 and +0 meet.
struct WeldKey {
    std::uint32_t x, y, z;
    bool operator==(const WeldKey&) const = default;
};

struct WeldHash {
    size_t operator()(const WeldKey& k) const
    {
        std::uint64_t h = k.x;
        h = h * 0x9E3779B97F4A7C15ull ^ k.y;
        h = h * 0x9E3779B97F4A7C15ull ^ k.z;
        return static_cast<size_t>(h ^ (h >> 29));
    }
};

WeldKey KeyOf(const Point3& p)
{
    // Adding +0 turns -0 into +0 and leaves every other value alone.
    return {std::bit_cast<std::uint32_t>(p.x + 0.0f), std::bit_cast<std::uint32_t>(p.y + 0.0f),
            std::bit_cast<std::uint32_t>(p.z + 0.0f)};
}

// The scene's meshes gathered as they are met.
class Flattener {
public:
    Flattener(const std::string& path, FileNormals normals) : path_(path), keepNormals_(normals == FileNormals::kKeep)
    {
    }
    void AddMesh(const aiMesh& mesh, const aiMatrix4x4& world);
    ImportedScene Finish();
    [[noreturn]] void Fail(const std::string& message) const { throw MeshFileError(path_, message); }

private:
    const std::string& path_;
    bool keepNormals_;
    ImportedScene out_;
    std::unordered_map<WeldKey, std::uint32_t, WeldHash> welded_;
    std::vector<std::uint32_t> remap_;  // scratch: the current mesh's vertices welded
};

void Flattener::AddMesh(const aiMesh& mesh, const aiMatrix4x4& world)
{
    const aiFace* faces = mesh.mFaces;
    size_t triangles = 0;
    for (unsigned f = 0; faces && f < mesh.mNumFaces; ++f) {
        if (faces[f].mNumIndices == 3) ++triangles;
        else ++out_.ignoredPrimitives;
    }
    if (triangles == 0) return;
    const unsigned nv = mesh.mNumVertices;
    const size_t flat = out_.flatCount;
    if (!mesh.mVertices) Fail("a mesh without vertex positions");
    if (flat + nv > INT_MAX || out_.triangles.size() + triangles > INT_MAX) Fail("too many vertices or faces");
    if (mesh.mMaterialIndex > 0xFFFF) Fail("material index " + std::to_string(mesh.mMaterialIndex) + " too large");

    remap_.resize(nv);
    for (unsigned i = 0; i < nv; ++i) {
        const aiVector3D p = world * mesh.mVertices[i];
        const Point3 q{p.x, p.y, p.z};
        const auto [at, added] = welded_.try_emplace(KeyOf(q), static_cast<std::uint32_t>(out_.verts.size()));
        if (added) out_.verts.push_back(q);
        remap_[i] = at->second;
    }
    // Even where the file's normals do not count, a normal that is not a
    // number makes the file as broken as such a position would.
    if (mesh.mNormals)
        for (unsigned i = 0; i < nv; ++i) {
            const aiVector3D& n = mesh.mNormals[i];
            if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z))
                Fail("normal " + std::to_string(flat + i) + " has a component that is not a finite number");
        }
    if (keepNormals_ && mesh.mNormals) {
        out_.normals.resize(flat);
        for (unsigned i = 0; i < nv; ++i) {
            const aiVector3D& n = mesh.mNormals[i];
            out_.normals.push_back({n.x, n.y, n.z});
        }
    }
    for (unsigned k = 0; k < kImportUVSets; ++k) {
        if (!mesh.mTextureCoords[k]) continue;
        out_.uvs[k].resize(flat);
        for (unsigned i = 0; i < nv; ++i) {
            const aiVector3D& uv = mesh.mTextureCoords[k][i];
            out_.uvs[k].push_back({uv.x, uv.y, uv.z});
        }
    }
    if (mesh.mColors[0]) {
        out_.colors.resize(flat, VertColor{1.0f, 1.0f, 1.0f});
        for (unsigned i = 0; i < nv; ++i) {
            const aiColor4D& c = mesh.mColors[0][i];
            out_.colors.push_back({c.r, c.g, c.b});
        }
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = faces[f];
        if (face.mNumIndices != 3) continue;
        ImportedTriangle tri{};
        for (int k = 0; k < 3; ++k) {
            const unsigned i = face.mIndices[k];
            if (i >= nv) Fail("a face uses vertex " + std::to_string(i) + " of " + std::to_string(nv));
            tri.v[k] = remap_[i];
            tri.flat[k] = static_cast<std::uint32_t>(flat + i);
        }
        tri.material = mesh.mMaterialIndex;
        out_.triangles.push_back(tri);
    }
    out_.flatCount = static_cast<std::uint32_t>(flat + nv);
}

ImportedScene Flattener::Finish()
{
    if (out_.triangles.empty()) Fail("no triangles");
    for (std::vector<UVVert>& set : out_.uvs)
        if (!set.empty()) set.resize(out_.flatCount);
    if (!out_.colors.empty()) out_.colors.resize(out_.flatCount, VertColor{1.0f, 1.0f, 1.0f});
    if (!out_.normals.empty()) out_.normals.resize(out_.flatCount);
    return std::move(out_);
}

}  // namespace

ImportedScene FlattenScene(const aiScene& scene, const std::string& path, FileNormals normals)
{
    Flattener flattener(path, normals);
    if (!scene.mRootNode) flattener.Fail("no scene");

    // Each node's number in the order first met, to name it if met again.
    std::unordered_map<const aiNode*, size_t> met;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> stack{{scene.mRootNode, scene.mRootNode->mTransformation}};
    while (!stack.empty()) {
        const auto [node, world] = stack.back();
        stack.pop_back();
        const auto [first, isNew] = met.try_emplace(node, met.size());
        if (!isNew) flattener.Fail("node " + std::to_string(first->second) + " has more than one parent");
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            const unsigned index = node->mMeshes[i];
            if (index >= scene.mNumMeshes || !scene.mMeshes[index])
                flattener.Fail("a node refers to mesh " + std::to_string(index) + " of " +
                               std::to_string(scene.mNumMeshes));
            flattener.AddMesh(*scene.mMeshes[index], world);
        }
        // Pushed last to first, so the first child comes out next.
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c]) stack.emplace_back(node->mChildren[c], world * node->mChildren[c]->mTransformation);
    }

    ImportedScene out = flattener.Finish();
    for (unsigned m = 0; m < scene.mNumMaterials; ++m) {
        aiString name;
        const bool named = scene.mMaterials[m] && scene.mMaterials[m]->Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS;
        out.materialNames.push_back(named ? name.C_Str() : "");
    }
    return out;
}

}  // namespace dunsmere
