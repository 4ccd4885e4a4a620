#include "eval/occluders.h"

#include <cstddef>

namespace dunsmere {

namespace {

// A conversion's new object, deleted however the copy of its mesh ends.
struct ConversionCopy {
    TriObject* object;
    explicit ConversionCopy(TriObject* made) : object(made) {}
    ConversionCopy(const ConversionCopy&) = delete;
    ConversionCopy& operator=(const ConversionCopy&) = delete;
    ~ConversionCopy()
    {
        if (object) object->DeleteThis();
    }
};

bool Mirrors(const Matrix3& m)
{
    return DotProd(CrossProd(m.GetRow(0), m.GetRow(1)), m.GetRow(2)) < 0.0f;
}

// The identity leaves the positions as they are: multiplying through it
// would turn a -0 coordinate into +0, and a bake must not tell an occluder
// from the same faces in the selected mesh.
Mesh Carried(const Mesh& source, const Matrix3& tm)
{
    const bool identity = tm == Matrix3();
    const bool mirrors = !identity && Mirrors(tm);
    Mesh out;
    out.verts.reserve(source.verts.size());
    for (const Point3& p : source.verts) out.verts.push_back(identity ? p : p * tm);
    const std::size_t vertCount = source.verts.size();
    out.faces.reserve(source.faces.size());
    for (const Face& f : source.faces) {
        if (f.v[0] >= vertCount || f.v[1] >= vertCount || f.v[2] >= vertCount) continue;
        Face copy;
        if (mirrors) copy.setVerts(f.v[0], f.v[2], f.v[1]);
        else copy.setVerts(f.v[0], f.v[1], f.v[2]);
        out.faces.push_back(copy);
    }
    return out;
}

}  // namespace

std::vector<Mesh> GatherOccluders(Interface& ip, const UtilitySettings& settings)
{
    std::vector<Mesh> meshes;
    if (!settings.sceneOccluders) return meshes;
    const TimeValue time = ip.GetTime();
    const int count = ip.GetOccluderNodeCount();
    for (int i = 0; i < count; ++i) {
        INode* node = ip.GetOccluderNode(i);
        Object* obj = node ? node->EvalWorldState(time, 1).obj : nullptr;
        TriObject* tri =
            obj && obj->CanConvertToType(kTriObjectClassID) ? obj->ConvertToType(time, kTriObjectClassID) : nullptr;
        if (!tri) continue;
        const ConversionCopy release{tri != obj ? tri : nullptr};
        meshes.push_back(Carried(tri->GetMesh(), ip.GetOccluderTM(i)));
    }
    return meshes;
}

}  // namespace dunsmere
