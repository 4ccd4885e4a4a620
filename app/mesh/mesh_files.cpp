#include "app/mesh/mesh_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>

#include "app/file_extension.h"
#include "app/mesh/mesh_formats.h"
#include "app/mesh/smoothing.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

namespace {

// Two colours are the same when their bits are: a vertex needs no copy for a
// colour it already has, and a not-a-number colour still matches itself.
bool SameBits(const VertColor& a, const VertColor& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

size_t Index(DWORD i) { return static_cast<size_t>(i); }

// A FIFO, a device or a directory, behind any number of symbolic links, is
// refused before a reader can block on it or read it without end. Told by
// stat(), which opens nothing: opening a FIFO can block and opening a device
// can act. A path stat() cannot follow is left to the reader's own message.
void RefuseIfNotRegular(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) throw MeshFileError(path, "not a regular file");
}

void AddCheckWarning(MeshFile& file, const std::string& path, const MeshCheck& check);

// Every reader's mesh obeys the one rule of app/mesh/mesh_check.h before use.
void CheckReadMesh(MeshFile& file, const std::string& path)
{
    const MeshCheck check = CheckMesh(file.mesh);
    if (!check.ok()) throw MeshFileError(path, MeshFaultText(check));
    AddCheckWarning(file, path, check);
}

void AddCheckWarning(MeshFile& file, const std::string& path, const MeshCheck& check)
{
    const std::string warning = MeshCheckWarning(check);
    if (!warning.empty()) file.warnings.push_back(path + ": " + warning);
}

}  // namespace

MeshFile ReadMeshFile(const std::string& path, const MeshReading& reading)
{
    RefuseIfNotRegular(path);
    try {
        if (LowerExtension(path) != "obj") {
            MeshFile file = ReadAssimpFile(path, reading);
            file.path = path;
            CheckReadMesh(file, path);
            return file;
        }
        MeshCheck check;
        MeshFile file = ReadObjFile(path, reading.threads, check);
        file.path = path;
        // An OBJ's s lines are its own word on its edges, unless told
        // otherwise; the check then sees the groups the bake will use.
        if (reading.smoothAngle) {
            SmoothMeshFile(file, path, {}, *reading.smoothAngle);
            CheckReadMesh(file, path);
        } else {
            AddCheckWarning(file, path, check);
        }
        return file;
    } catch (const MeshFileError&) {
        throw;
    } catch (const MeshReadCancelled&) {
        throw;
    } catch (const std::bad_alloc&) {
        // Not the file's fault, but the file it happened on.
        throw MeshFileError(path, "out of memory");
    } catch (const std::exception& e) {
        // What a library throws becomes ours, so that it names the file.
        throw MeshFileError(path, e.what());
    }
}

void WriteMeshFile(const MeshFile& original, const Mesh& changed, const std::string& path, int threads)
{
    const std::string ext = LowerExtension(path);
    if (ext == "obj") return WriteObjFile(original, changed, path, threads);
    if (ext == "ply") return WritePlyFile(changed, path);
    if (ext == "glb" || ext == "gltf") {
        std::string reason;
        const MeshCodecTable* codecs = MeshCodecs(reason);
        if (!codecs) throw MeshFileError(path, reason);
        return codecs->writeGltf(original, changed, path, ext == "glb");
    }
    throw MeshFileError(path, std::string("cannot write this kind of file; the mesh formats written are ") +
                        WritableMeshExtensions());
}

bool CanWriteMesh(std::string_view path)
{
    const std::string ext = LowerExtension(path);
    return ext == "obj" || ext == "ply" || ext == "glb" || ext == "gltf";
}

const char* WritableMeshExtensions() { return ".obj, .ply, .glb and .gltf"; }

bool CanReadMesh(std::string_view path)
{
    const std::string ext = LowerExtension(path);
    return ext == "obj" || (!ext.empty() && AssimpReads(ext));
}

ColoredVertices SplitVerticesByColor(const Mesh& mesh, const std::string& path)
{
    const size_t nv = mesh.verts.size(), nf = mesh.faces.size();
    ColoredVertices out;
    out.faces.resize(nf);
    for (size_t f = 0; f < nf; ++f)
        for (int k = 0; k < 3; ++k) {
            const DWORD v = mesh.faces[f].v[k];
            if (Index(v) >= nv)
                throw MeshFileError(path, "face " + std::to_string(f) + " uses vertex " + std::to_string(v) +
                                    " of " + std::to_string(nv));
            out.faces[f][static_cast<size_t>(k)] = v;
        }

    out.colored = mesh.mapSupport(0);
    const bool identity = [&] {
        if (!out.colored) return true;
        if (static_cast<size_t>(mesh.getNumVCFaces()) != nf)
            throw MeshFileError(path, "the mesh has " + std::to_string(nf) + " faces but " +
                                std::to_string(mesh.getNumVCFaces()) + " colour faces");
        const TVFace* vc = mesh.vcFace();
        const DWORD nc = static_cast<DWORD>(mesh.getNumVertCol());
        bool same = true;
        for (size_t f = 0; f < nf; ++f)
            for (int k = 0; k < 3; ++k) {
                if (vc[f].t[k] >= nc)
                    throw MeshFileError(path, "colour face " + std::to_string(f) + " uses colour " +
                                        std::to_string(vc[f].t[k]) + " of " + std::to_string(nc));
                same = same && vc[f].t[k] == mesh.faces[f].v[k];
            }
        return same;
    }();

    const size_t nc = static_cast<size_t>(mesh.getNumVertCol());
    const VertColor* colors = mesh.vertCol();
    const VertColor white{1.0f, 1.0f, 1.0f};
    auto ownColor = [&](size_t v) { return v < nc ? colors[v] : white; };

    if (identity) {
        out.vertex.resize(nv);
        for (size_t v = 0; v < nv; ++v) out.vertex[v] = static_cast<DWORD>(v);
        if (out.colored) {
            out.color.resize(nv);
            for (size_t v = 0; v < nv; ++v) out.color[v] = ownColor(v);
        }
        return out;
    }

    // Each vertex's distinct colours in the order the faces first use them;
    // most vertices have one, so a short list searched in order is enough.
    const TVFace* vc = mesh.vcFace();
    std::vector<std::vector<VertColor>> seen(nv);
    for (size_t f = 0; f < nf; ++f)
        for (int k = 0; k < 3; ++k) {
            std::vector<VertColor>& list = seen[Index(mesh.faces[f].v[k])];
            const VertColor& c = colors[Index(vc[f].t[k])];
            if (std::none_of(list.begin(), list.end(), [&](const VertColor& s) { return SameBits(s, c); }))
                list.push_back(c);
        }
    std::vector<DWORD> first(nv);
    for (size_t v = 0; v < nv; ++v) {
        first[v] = static_cast<DWORD>(out.vertex.size());
        if (seen[v].empty()) {
            out.vertex.push_back(static_cast<DWORD>(v));
            out.color.push_back(ownColor(v));
        }
        for (const VertColor& c : seen[v]) {
            out.vertex.push_back(static_cast<DWORD>(v));
            out.color.push_back(c);
        }
    }
    for (size_t f = 0; f < nf; ++f)
        for (int k = 0; k < 3; ++k) {
            const size_t v = Index(mesh.faces[f].v[k]);
            const VertColor& c = colors[Index(vc[f].t[k])];
            const std::vector<VertColor>& list = seen[v];
            const auto at = std::find_if(list.begin(), list.end(), [&](const VertColor& s) { return SameBits(s, c); });
            out.faces[f][static_cast<size_t>(k)] = first[v] + static_cast<DWORD>(at - list.begin());
        }
    return out;
}

}  // namespace dunsmere
