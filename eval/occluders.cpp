#include "eval/occluders.h"

#include <cstddef>
#include <optional>
#include <new>
#include <utility>

#include "eval/messages.h"

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
Mesh Carried(const Mesh& source, const Matrix3& tm, bool keepGroups)
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
        if (keepGroups) copy.smGroup = f.smGroup;
        out.faces.push_back(copy);
    }
    return out;
}

// The node's evaluated mesh carried by TM; nullopt when it has none.
std::optional<Mesh> NodeMesh(Interface& ip, INode* node, const Matrix3& tm, bool keepGroups)
{
    const TimeValue time = ip.GetTime();
    Object* obj = node ? node->EvalWorldState(time, 1).obj : nullptr;
    TriObject* tri =
        obj && obj->CanConvertToType(kTriObjectClassID) ? obj->ConvertToType(time, kTriObjectClassID) : nullptr;
    if (!tri) return std::nullopt;
    const ConversionCopy release{tri != obj ? tri : nullptr};
    return Carried(tri->GetMesh(), tm, keepGroups);
}

// The meshes of the host's COUNT nodes of one kind, in its order.
std::vector<Mesh> NodeMeshes(Interface& ip, int count, INode* (Interface::*node)(int),
                             Matrix3 (Interface::*tm)(int), bool keepGroups)
{
    std::vector<Mesh> meshes;
    for (int i = 0; i < count; ++i)
        if (std::optional<Mesh> mesh = NodeMesh(ip, (ip.*node)(i), (ip.*tm)(i), keepGroups))
            meshes.push_back(std::move(*mesh));
    return meshes;
}

}  // namespace

std::vector<Mesh> GatherOccluders(Interface& ip, const UtilitySettings& settings)
{
    if (!settings.sceneOccluders) return {};
    return NodeMeshes(ip, ip.GetOccluderNodeCount(), &Interface::GetOccluderNode, &Interface::GetOccluderTM, false);
}

std::vector<Mesh> GatherSources(Interface& ip, const UtilitySettings& settings)
{
    if (!settings.highPoly) return {};
    return NodeMeshes(ip, ip.GetSourceNodeCount(), &Interface::GetSourceNode, &Interface::GetSourceTM, true);
}

std::optional<Mesh> GatherCage(Interface& ip, const UtilitySettings& settings)
{
    if (!settings.highPoly || !ip.GetCageNode()) return std::nullopt;
    return NodeMesh(ip, ip.GetCageNode(), ip.GetCageTM(), false);
}

const char* TakeSources(Interface& ip, const UtilitySettings& settings, const Mesh& mesh, RunTables& tables)
{
    tables.sources.clear();
    tables.cage.reset();
    if (!settings.highPoly) return nullptr;
    try {
        tables.sources = GatherSources(ip, settings);
        tables.cage = GatherCage(ip, settings);
    } catch (const std::bad_alloc&) {
        tables.sources.clear();
        tables.cage.reset();
        return kOutOfMemory;
    }
    if (tables.sources.empty()) return kNoSourceMesh;
    if (tables.cage && tables.cage->faces.size() != mesh.faces.size()) return kCageFaceCount;
    return nullptr;
}

}  // namespace dunsmere
