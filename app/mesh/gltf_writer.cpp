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
// back may differ from ours in its last bit. Each corner's normal is the one
// the bake samples with there: the face's own where it has no smoothing
// group, else the normal of its groups at that vertex (geom/vertex_normals.h),
// so vertices split along hard edges. Channels past 8 are not written.
// The exporter writes into memory; only a complete export reaches the disk.
// A .gltf's buffer never replaces the one the old .gltf names: it is written
// as STEM.bin when there is no such file, else as STEM-HASH.bin (the first 8
// hex digits of its SHA-256), then the .gltf is renamed into place, and only
// then is the old buffer removed, if the old .gltf named it, it has one of
// those two forms, and no other .gltf in the folder names it. At every
// moment the .gltf on disk and the buffer it names belong together. Writers
// of one folder's .gltf files take turns, under a lock on the folder, from
// choosing the buffer's name to removing the old one, so that two at once
// never leave a buffer nothing names.

#include <assimp/Exporter.hpp>
#include <assimp/IOStream.hpp>
#include <assimp/IOSystem.hpp>
#include <assimp/material.h>
#include <assimp/scene.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"
#include "app/mesh/sha256.h"
#include "geom/geom.h"

namespace dunsmere {

namespace {

// One file the exporter wrote, held in memory.
struct MemoryFile {
    std::string path;
    std::string bytes;
};

struct Outputs {
    std::vector<std::unique_ptr<MemoryFile>> files;
};

class MemoryStream : public Assimp::IOStream {
public:
    explicit MemoryStream(MemoryFile& file) : file_(file) {}
    size_t Read(void*, size_t, size_t) override { return 0; }
    size_t Write(const void* buffer, size_t size, size_t count) override
    {
        if (size == 0 || count == 0 || count > SIZE_MAX / size) return 0;
        const size_t n = size * count;
        std::string& bytes = file_.bytes;
        if (at_ > bytes.size()) bytes.resize(at_, '\0');
        bytes.replace(at_, std::min(n, bytes.size() - at_), static_cast<const char*>(buffer), n);
        at_ += n;
        return count;
    }
    aiReturn Seek(size_t offset, aiOrigin origin) override
    {
        const size_t base = origin == aiOrigin_SET ? 0 : origin == aiOrigin_CUR ? at_ : file_.bytes.size();
        if (offset > SIZE_MAX - base) return aiReturn_FAILURE;
        at_ = base + offset;
        return aiReturn_SUCCESS;
    }
    size_t Tell() const override { return at_; }
    size_t FileSize() const override { return file_.bytes.size(); }
    void Flush() override {}

private:
    MemoryFile& file_;
    size_t at_ = 0;
};

// The exporter's file system: it may only write, and only into memory. The
// exporter owns and deletes it; what it wrote lives on in OUTPUTS.
class MemoryFileSystem : public Assimp::IOSystem {
public:
    explicit MemoryFileSystem(Outputs& outputs) : outputs_(outputs) {}
    bool Exists(const char* path) const override
    {
        struct stat st {};
        return ::stat(path, &st) == 0;
    }
    char getOsSeparator() const override { return '/'; }
    Assimp::IOStream* Open(const char* path, const char* mode) override
    {
        if (!path || !mode || mode[0] != 'w') return nullptr;
        outputs_.files.push_back(std::make_unique<MemoryFile>(MemoryFile{path, {}}));
        return new MemoryStream(*outputs_.files.back());
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

// Face f's corner k at 3f + k. The face indices must be in range.
std::vector<Point3> CornerNormals(const Mesh& mesh, const std::string& path)
{
    Tab<Point3> faceNormals;
    BuildFaceNormals(mesh, faceNormals);
    VertexNormals vertexNormals;
    vertexNormals.BuildVertexNormals(mesh);
    std::vector<Point3> normals;
    normals.reserve(mesh.faces.size() * 3);
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const Face& face = mesh.faces[f];
        for (int k = 0; k < 3; ++k)
            normals.push_back(face.smGroup == 0
                                  ? faceNormals[static_cast<int>(f)]
                                  : Normalize(vertexNormals.InterpolatedNormal(face, k == 0 ? 1.0f : 0.0f,
                                                                               k == 1 ? 1.0f : 0.0f,
                                                                               k == 2 ? 1.0f : 0.0f)));
    }
    for (const Point3& n : normals) CheckFinite(n, path, "a normal");
    return normals;
}

// One assimp mesh: the faces of material ID, over their own vertices.
aiMesh* BuildMesh(const Mesh& mesh, const ColoredVertices& out, const std::vector<Point3>& normals,
                  const std::vector<int>& channels, int id, unsigned materialIndex)
{
    // A corner's key: its output vertex, its normal's bits, then its texture
    // vertex per channel.
    std::map<std::vector<DWORD>, unsigned> index;
    std::vector<const std::vector<DWORD>*> keys;  // by new vertex
    std::vector<unsigned> corners;
    std::vector<Point3> cornerNormal;  // by new vertex
    std::vector<DWORD> key(4 + channels.size());
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        if (mesh.faces[f].getMatID() != id) continue;
        for (size_t k = 0; k < 3; ++k) {
            const Point3& n = normals[3 * f + k];
            key[0] = out.faces[f][k];
            key[1] = std::bit_cast<DWORD>(n.x);
            key[2] = std::bit_cast<DWORD>(n.y);
            key[3] = std::bit_cast<DWORD>(n.z);
            for (size_t c = 0; c < channels.size(); ++c) key[c + 4] = mesh.mapFaces(channels[c])[f].t[k];
            const auto [at, added] = index.try_emplace(key, static_cast<unsigned>(keys.size()));
            if (added) {
                keys.push_back(&at->first);
                cornerNormal.push_back(n);
            }
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
    am->mNormals = new aiVector3D[nv];
    if (out.colored) am->mColors[0] = new aiColor4D[nv];
    for (size_t c = 0; c < channels.size(); ++c) {
        am->mTextureCoords[c] = new aiVector3D[nv];
        am->mNumUVComponents[c] = 2;
    }
    for (unsigned i = 0; i < nv; ++i) {
        const std::vector<DWORD>& k = *keys[i];
        const Point3& p = mesh.verts[out.vertex[k[0]]];
        am->mVertices[i] = aiVector3D(p.x, p.y, p.z);
        am->mNormals[i] = aiVector3D(cornerNormal[i].x, cornerNormal[i].y, cornerNormal[i].z);
        if (out.colored) {
            const VertColor& c = out.color[k[0]];
            am->mColors[0][i] = aiColor4D(c.x, c.y, c.z, 1.0f);
        }
        for (size_t c = 0; c < channels.size(); ++c) {
            const UVVert& uv = mesh.mapVerts(channels[c])[k[c + 4]];
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
    const std::vector<Point3> normals = CornerNormals(changed, path);
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
        scene->mMeshes[i] = BuildMesh(changed, out, normals, channels, ids[i], i);
        scene->mNumMeshes = i + 1;
        scene->mRootNode->mMeshes[i] = i;
        scene->mRootNode->mNumMeshes = i + 1;
    }
    return scene;
}

// PATH split at its last slash: "DIR/" (or "") and the name.
std::pair<std::string, std::string> SplitPath(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The URIs a glTF file's JSON gives, those written without escapes; others
// are not ours to remove anyway.
std::vector<std::string> PlainUris(const std::string& json)
{
    std::vector<std::string> uris;
    static constexpr std::string_view kKey = "\"uri\"";
    for (size_t at = json.find(kKey); at != std::string::npos; at = json.find(kKey, at + 1)) {
        size_t i = at + kKey.size();
        while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i]))) ++i;
        if (i >= json.size() || json[i] != ':') continue;
        ++i;
        while (i < json.size() && std::isspace(static_cast<unsigned char>(json[i]))) ++i;
        if (i >= json.size() || json[i] != '"') continue;
        const size_t end = json.find_first_of("\"\\", i + 1);
        if (end == std::string::npos || json[end] != '"') continue;
        uris.push_back(json.substr(i + 1, end - i - 1));
    }
    return uris;
}

// Whether NAME is STEM.bin or STEM-XXXXXXXX.bin (8 lower-case hex digits).
bool IsBufferName(const std::string& name, const std::string& stem)
{
    if (name == stem + ".bin") return true;
    if (name.size() != stem.size() + 13 || name.compare(0, stem.size(), stem) != 0) return false;
    if (name[stem.size()] != '-' || name.compare(stem.size() + 9, 4, ".bin") != 0) return false;
    for (size_t i = stem.size() + 1; i < stem.size() + 9; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])) && (name[i] < 'a' || name[i] > 'f')) return false;
    return true;
}

// What the .gltf at PATH holds now; "" when there is none (or it is too
// large to be one of ours).
std::string OldMainFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (!in) return bytes;
    constexpr std::streamsize kMost = 64 << 20;
    bytes.resize(static_cast<size_t>(kMost) + 1);
    in.read(bytes.data(), kMost + 1);
    bytes.resize(static_cast<size_t>(in.gcount()));
    if (bytes.size() > static_cast<size_t>(kMost)) bytes.clear();
    return bytes;
}

// Adds the URIs the .gltf files in DIR other than NAME give to URIS; false
// when the folder cannot be read through.
bool UrisOfOthers(const std::string& dir, const std::string& name, std::set<std::string>& uris)
{
    std::error_code ec;
    namespace fs = std::filesystem;
    const fs::directory_iterator end;
    for (fs::directory_iterator at(dir.empty() ? "." : dir, ec); !ec && at != end; at.increment(ec)) {
        std::string extension = at->path().extension().string();
        for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::error_code kind;
        if (extension != ".gltf" || at->path().filename() == name || !at->is_regular_file(kind)) continue;
        for (std::string& uri : PlainUris(OldMainFile(at->path().string()))) uris.insert(std::move(uri));
    }
    return !ec;
}

// An exclusive lock on a folder for the scope's life; none where the folder
// cannot be opened or locked, and the write goes on as it would alone.
class FolderLock {
public:
    explicit FolderLock(const std::string& dir)
        : fd_(::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

void Replace(const std::string& target, const std::string& bytes)
{
    PendingFile file(target);
    file.Write(bytes);
    file.Commit();
}

// A .gltf and its buffers, in the order that keeps the old pair whole.
void CommitSeparate(const std::string& path, std::string json, const std::vector<const MemoryFile*>& buffers)
{
    const auto [dir, name] = SplitPath(path);
    const std::string stem = std::filesystem::path(name).stem().string();
    const FolderLock turn(dir);
    std::vector<std::string> chosen;  // the buffers' names
    for (const MemoryFile* buffer : buffers) {
        const std::string given = SplitPath(buffer->path).second;
        const std::string quoted = "\"" + given + "\"";
        const size_t at = json.find(quoted);
        if (given.find_first_of("\"\\") != std::string::npos || at == std::string::npos ||
            json.find(quoted, at + 1) != std::string::npos)
            throw MeshFileError(path, "cannot find the buffer " + given + " in what the exporter wrote");
        std::string use = stem + ".bin";
        if (Exists(dir + use)) use = stem + "-" + Sha256Hex(buffer->bytes).substr(0, 8) + ".bin";
        json.replace(at, quoted.size(), "\"" + use + "\"");
        chosen.push_back(use);
    }
    // The .gltf is written first and renamed last: a folder it cannot be
    // written in is found before any buffer is placed.
    PendingFile main(path);
    main.Write(json);
    const std::string old = OldMainFile(path);
    std::vector<std::string> created;  // buffers that did not exist before
    try {
        for (size_t i = 0; i < buffers.size(); ++i) {
            if (!Exists(dir + chosen[i])) created.push_back(dir + chosen[i]);
            Replace(dir + chosen[i], buffers[i]->bytes);
        }
        main.Commit();
    } catch (...) {
        // The old .gltf still names its old buffer; what it never knew goes.
        for (const std::string& file : created) (void)::unlink(file.c_str());
        throw;
    }
    std::vector<std::string> unnamed;
    for (const std::string& uri : PlainUris(old))
        if (IsBufferName(uri, stem) && std::find(chosen.begin(), chosen.end(), uri) == chosen.end())
            unnamed.push_back(uri);
    // A folder that cannot be read through may hold a .gltf that names it.
    std::set<std::string> others;
    if (unnamed.empty() || !UrisOfOthers(dir, name, others)) return;
    for (const std::string& uri : unnamed)
        if (others.count(uri) == 0) (void)::unlink((dir + uri).c_str());
}

}  // namespace

void WriteGltfFile(const MeshFile& original, const Mesh& changed, const std::string& requested, bool binary)
{
    // A .gltf names its buffer relative to itself: through a link, both go
    // where the link leads, so that the name still finds the buffer.
    const std::string path = binary ? requested : FollowLinks(requested);
    const std::unique_ptr<aiScene> scene = BuildScene(original, changed, path);
    Outputs outputs;
    {
        Assimp::Exporter exporter;
        exporter.SetIOHandler(new MemoryFileSystem(outputs));
        const aiReturn done = exporter.Export(scene.get(), binary ? "glb2" : "gltf2", path);
        if (done != aiReturn_SUCCESS) throw MeshFileError(path, exporter.GetErrorString());
    }
    const MemoryFile* main = nullptr;
    std::vector<const MemoryFile*> buffers;
    for (const auto& file : outputs.files) {
        if (file->path == path) main = file.get();
        else buffers.push_back(file.get());
    }
    if (!main) throw MeshFileError(path, "the exporter wrote nothing");
    if (binary && buffers.empty()) return Replace(path, main->bytes);
    CommitSeparate(path, main->bytes, buffers);
}

}  // namespace dunsmere
