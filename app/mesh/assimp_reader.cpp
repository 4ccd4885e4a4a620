// Every mesh format but OBJ, read through assimp and flattened into one mesh.
//
// Only triangulation runs on the imported scene: any other post-processing
// would change the geometry the bake sees. The node tree is walked depth
// first with each node's meshes before its children, and every mesh a node
// refers to is placed by that node's world transform (a mesh under two nodes
// comes in twice). Points and lines are dropped.
//
// Vertices with exactly the same position are welded into one; assimp gives
// each face corner of most formats its own vertex. Texture coordinates and
// colours stay with the corners: map channel k + 1 and the colour channel
// have one entry per assimp vertex, and their faces index those. A vertex
// without UV set k maps to (0, 0, 0); one without colour set 0 is white.
// Every face is in smoothing group 1; assimp's material index is the
// material ID, and the scene's material names are kept by index.

#include <assimp/Importer.hpp>
#include <assimp/config.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <bit>
#include <climits>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "app/mesh/mesh_formats.h"

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

constexpr unsigned kUVSets = AI_MAX_NUMBER_OF_TEXTURECOORDS < kMaxMapChannels - 1
                                 ? AI_MAX_NUMBER_OF_TEXTURECOORDS
                                 : kMaxMapChannels - 1;

// The scene's meshes gathered as they are met.
class Flattener {
public:
    explicit Flattener(const std::string& path) : path_(path) {}
    void AddMesh(const aiMesh& mesh, const aiMatrix4x4& world);
    void Finish(Mesh& out);
    bool colored() const { return !colors_.empty(); }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw MeshFileError(path_, message); }

    struct Triangle {
        DWORD v[3];      // welded vertices
        DWORD flat[3];   // assimp vertices, counted over the whole scene
        DWORD material;
    };
    const std::string& path_;
    std::unordered_map<WeldKey, DWORD, WeldHash> welded_;
    std::vector<Point3> verts_;
    std::vector<Triangle> faces_;
    size_t flatCount_ = 0;
    std::vector<UVVert> uvs_[kUVSets];  // empty while no mesh had the set
    std::vector<VertColor> colors_;
    std::vector<DWORD> remap_;  // scratch: the current mesh's vertices welded
};

void Flattener::AddMesh(const aiMesh& mesh, const aiMatrix4x4& world)
{
    const aiFace* faces = mesh.mFaces;
    size_t triangles = 0;
    for (unsigned f = 0; faces && f < mesh.mNumFaces; ++f) triangles += faces[f].mNumIndices == 3 ? 1 : 0;
    if (triangles == 0) return;
    const unsigned nv = mesh.mNumVertices;
    if (!mesh.mVertices) Fail("a mesh without vertex positions");
    if (flatCount_ + nv > INT_MAX || faces_.size() + triangles > INT_MAX) Fail("too many vertices or faces");
    if (mesh.mMaterialIndex > 0xFFFF) Fail("material index " + std::to_string(mesh.mMaterialIndex) + " too large");

    remap_.resize(nv);
    for (unsigned i = 0; i < nv; ++i) {
        const aiVector3D p = world * mesh.mVertices[i];
        const Point3 q{p.x, p.y, p.z};
        const auto [at, added] = welded_.try_emplace(KeyOf(q), static_cast<DWORD>(verts_.size()));
        if (added) verts_.push_back(q);
        remap_[i] = at->second;
    }
    for (unsigned k = 0; k < kUVSets; ++k) {
        if (!mesh.mTextureCoords[k]) continue;
        uvs_[k].resize(flatCount_);
        for (unsigned i = 0; i < nv; ++i) {
            const aiVector3D& uv = mesh.mTextureCoords[k][i];
            uvs_[k].push_back({uv.x, uv.y, uv.z});
        }
    }
    if (mesh.mColors[0]) {
        colors_.resize(flatCount_, VertColor{1.0f, 1.0f, 1.0f});
        for (unsigned i = 0; i < nv; ++i) {
            const aiColor4D& c = mesh.mColors[0][i];
            colors_.push_back({c.r, c.g, c.b});
        }
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
        const aiFace& face = faces[f];
        if (face.mNumIndices != 3) continue;
        Triangle tri{};
        for (int k = 0; k < 3; ++k) {
            const unsigned i = face.mIndices[k];
            if (i >= nv) Fail("a face uses vertex " + std::to_string(i) + " of " + std::to_string(nv));
            tri.v[k] = remap_[i];
            tri.flat[k] = static_cast<DWORD>(flatCount_ + i);
        }
        tri.material = mesh.mMaterialIndex;
        faces_.push_back(tri);
    }
    flatCount_ += nv;
}

void Flattener::Finish(Mesh& out)
{
    if (faces_.empty()) Fail("no triangles");
    out.setNumVerts(static_cast<int>(verts_.size()));
    std::copy(verts_.begin(), verts_.end(), out.verts.begin());
    out.setNumFaces(static_cast<int>(faces_.size()));
    for (size_t f = 0; f < faces_.size(); ++f) {
        const Triangle& tri = faces_[f];
        out.faces[f].setVerts(tri.v[0], tri.v[1], tri.v[2]);
        out.faces[f].smGroup = 1;
        out.faces[f].flags = tri.material << 16;
    }
    const int flat = static_cast<int>(flatCount_);
    for (unsigned k = 0; k < kUVSets; ++k) {
        if (uvs_[k].empty()) continue;
        const int channel = static_cast<int>(k) + 1;
        uvs_[k].resize(flatCount_);
        out.setNumMapVerts(channel, flat);
        std::copy(uvs_[k].begin(), uvs_[k].end(), out.mapVerts(channel));
        TVFace* tf = out.mapFaces(channel);
        for (size_t f = 0; f < faces_.size(); ++f) tf[f].setTVerts(faces_[f].flat[0], faces_[f].flat[1], faces_[f].flat[2]);
    }
    if (!colors_.empty()) {
        colors_.resize(flatCount_, VertColor{1.0f, 1.0f, 1.0f});
        out.setNumVertCol(flat);
        std::copy(colors_.begin(), colors_.end(), out.vertCol());
        out.setNumVCFaces(static_cast<int>(faces_.size()));
        TVFace* vc = out.vcFace();
        for (size_t f = 0; f < faces_.size(); ++f) vc[f].setTVerts(faces_[f].flat[0], faces_[f].flat[1], faces_[f].flat[2]);
    }
}

}  // namespace

bool AssimpReads(const std::string& extension)
{
    return Assimp::Importer().IsExtensionSupported("." + extension);
}

MeshFile ReadAssimpFile(const std::string& path)
{
    Assimp::Importer importer;
    // A file of bones alone must not turn into made-up geometry.
    importer.SetPropertyBool(AI_CONFIG_IMPORT_NO_SKELETON_MESHES, true);
    const aiScene* scene = importer.ReadFile(path, aiProcess_Triangulate);
    if (!scene) throw MeshFileError(path, importer.GetErrorString());
    if (!scene->mRootNode) throw MeshFileError(path, "no scene");

    Flattener flattener(path);
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> stack{{scene->mRootNode, scene->mRootNode->mTransformation}};
    while (!stack.empty()) {
        const auto [node, world] = stack.back();
        stack.pop_back();
        for (unsigned i = 0; i < node->mNumMeshes; ++i) {
            const unsigned index = node->mMeshes[i];
            if (index >= scene->mNumMeshes || !scene->mMeshes[index])
                throw MeshFileError(path, "a node refers to mesh " + std::to_string(index) + " of " +
                                    std::to_string(scene->mNumMeshes));
            flattener.AddMesh(*scene->mMeshes[index], world);
        }
        // Pushed last to first, so the first child comes out next.
        for (unsigned c = node->mNumChildren; c-- > 0;)
            if (node->mChildren[c]) stack.emplace_back(node->mChildren[c], world * node->mChildren[c]->mTransformation);
    }

    MeshFile file;
    file.format = MeshFormat::kAssimp;
    flattener.Finish(file.mesh);
    file.hadColors = flattener.colored();
    for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
        aiString name;
        const bool named = scene->mMaterials[m] && scene->mMaterials[m]->Get(AI_MATKEY_NAME, name) == aiReturn_SUCCESS;
        file.materialNames.push_back(named ? name.C_Str() : "");
    }
    return file;
}
