// The OBJ reader on any bytes, and what it reads written back and read
// again: the same mesh, bit for bit.
#include <bit>
#include <cstdint>

#include "app/mesh/mesh_files.h"
#include "fuzz_target.h"

using namespace dunsmere;

namespace {

bool SameBits(const Point3& a, const Point3& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

void ExpectSame(const Mesh& a, const Mesh& b)
{
    if (a.getNumVerts() != b.getNumVerts() || a.getNumFaces() != b.getNumFaces())
        FuzzFinding("the mesh read back has other counts");
    for (int i = 0; i < a.getNumVerts(); ++i)
        if (!SameBits(a.verts[static_cast<std::size_t>(i)], b.verts[static_cast<std::size_t>(i)]))
            FuzzFinding("a position changed on the way back");
    for (int f = 0; f < a.getNumFaces(); ++f) {
        const Face& x = a.faces[static_cast<std::size_t>(f)];
        const Face& y = b.faces[static_cast<std::size_t>(f)];
        for (int k = 0; k < 3; ++k)
            if (x.v[k] != y.v[k]) FuzzFinding("a face changed on the way back");
        if (x.smGroup != y.smGroup || x.flags != y.flags) FuzzFinding("a face's group or material changed");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string in = FuzzFile("in.obj", data, size), out = FuzzScratch() + "/out.obj";
    MeshFile first;
    try {
        first = ReadMeshFile(in);
    } catch (const MeshFileError&) {
        return 0;  // refused: what a reader may do with any input
    }
    try {
        WriteMeshFile(first, first.mesh, out);
    } catch (const MeshFileError&) {
        FuzzFinding("a mesh the reader took could not be written");
    }
    MeshFile second;
    try {
        second = ReadMeshFile(out);
    } catch (const MeshFileError& e) {
        FuzzFinding(e.what());
    }
    ExpectSame(first.mesh, second.mesh);
    return 0;
}
