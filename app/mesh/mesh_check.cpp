#include "app/mesh/mesh_check.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace dunsmere {

namespace {

bool Finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

bool WithinEdgeLimit(const Point3& e)
{
    return std::fabs(e.x) <= kMaxEdgeComponent && std::fabs(e.y) <= kMaxEdgeComponent &&
           std::fabs(e.z) <= kMaxEdgeComponent;
}

// The squared length as Point3::Length sums it before its square root.
float SquaredLength(const Point3& p) { return (p.x * p.x + p.y * p.y) + p.z * p.z; }

// A face vector exactly as the normals make it.
Point3 FaceVector(const Point3& c0, const Point3& c1, const Point3& c2) { return CrossProd(c1 - c0, c2 - c1); }

// The vertex normals' lists, kept in one array: the same nodes, filled in the
// same order with the same additions, so every sum has the same bits as the
// one the normals normalise.
class NormalSums {
public:
    explicit NormalSums(std::size_t vertCount) : heads_(vertCount, kNone) {}

    void Add(DWORD v, const Point3& n, DWORD bits)
    {
        int at = heads_[v];
        if (at == kNone) {
            heads_[v] = Append(n, bits);
            return;
        }
        for (;;) {
            Node& node = nodes_[static_cast<std::size_t>(at)];
            if ((node.groups & bits) != 0) {
                node.sum = node.sum + n;
                node.groups |= bits;
                return;
            }
            if (node.next == kNone) break;
            at = node.next;
        }
        const int added = Append(n, bits);
        nodes_[static_cast<std::size_t>(at)].next = added;
    }

    // Folds each list as the normals do before normalising; whether every
    // folded sum has a finite squared length.
    bool MergedFinite(DWORD v)
    {
        for (int x = heads_[v]; x != kNone; x = nodes_[static_cast<std::size_t>(x)].next) {
            Node& head = nodes_[static_cast<std::size_t>(x)];
            int prev = x;
            int y = head.next;
            while (y != kNone) {
                const Node& other = nodes_[static_cast<std::size_t>(y)];
                if ((other.groups & head.groups) != 0) {
                    head.sum = head.sum + other.sum;
                    nodes_[static_cast<std::size_t>(prev)].next = other.next;
                } else {
                    prev = y;
                }
                y = nodes_[static_cast<std::size_t>(prev)].next;
            }
            if (!std::isfinite(SquaredLength(head.sum))) return false;
        }
        return true;
    }

private:
    static constexpr int kNone = -1;
    struct Node {
        Point3 sum;
        DWORD groups = 0;
        int next = kNone;
    };

    int Append(const Point3& n, DWORD bits)
    {
        // A fresh head starts from zero and adds the vector, as the normals' does.
        nodes_.push_back({Point3{} + n, bits, kNone});
        return static_cast<int>(nodes_.size() - 1);
    }

    std::vector<int> heads_;
    std::vector<Node> nodes_;
};

MeshCheck Fault(MeshFault fault, int face, int vertex = -1, int channel = -1)
{
    MeshCheck c;
    c.fault = fault;
    c.face = face;
    c.vertex = vertex;
    c.channel = channel;
    return c;
}

}  // namespace

MeshCheck CheckMesh(const Mesh& mesh)
{
    const std::size_t nv = mesh.verts.size();
    const std::size_t nf = mesh.faces.size();
    for (std::size_t f = 0; f < nf; ++f)
        for (DWORD v : mesh.faces[f].v)
            if (v >= nv) return Fault(MeshFault::kVertexIndex, static_cast<int>(f), static_cast<int>(v));
    for (int ch = 0; ch < kMaxMapChannels; ++ch) {
        const int count = mesh.getNumMapVerts(ch);
        const TVFace* tf = mesh.mapFaces(ch);
        if (count <= 0 || !tf) continue;
        const std::size_t faces = ch == 0 ? std::min(nf, static_cast<std::size_t>(mesh.getNumVCFaces())) : nf;
        for (std::size_t f = 0; f < faces; ++f)
            for (DWORD t : tf[f].t)
                if (t >= static_cast<DWORD>(count))
                    return Fault(MeshFault::kMapIndex, static_cast<int>(f), static_cast<int>(t), ch);
    }
    for (std::size_t v = 0; v < nv; ++v)
        if (!Finite(mesh.verts[v])) return Fault(MeshFault::kNonFiniteVertex, -1, static_cast<int>(v));
    for (int ch = 0; ch < kMaxMapChannels; ++ch) {
        const int count = mesh.getNumMapVerts(ch);
        const UVVert* tv = mesh.mapVerts(ch);
        for (int t = 0; tv && t < count; ++t)
            if (!Finite(tv[t])) return Fault(MeshFault::kNonFiniteMapVertex, -1, t, ch);
    }

    MeshCheck result;
    const Point3* verts = mesh.verts.data();
    for (std::size_t f = 0; f < nf; ++f) {
        const Face& face = mesh.faces[f];
        const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
        if (!WithinEdgeLimit(c1 - c0) || !WithinEdgeLimit(c2 - c1))
            return Fault(MeshFault::kLongEdge, static_cast<int>(f));
        if (Length(c1 - c0) < kShortEdge || Length(c2 - c1) < kShortEdge || Length(c0 - c2) < kShortEdge)
            ++result.shortEdgeFaces;
    }

    NormalSums sums(nv);
    for (const Face& face : mesh.faces) {
        const Point3 n = FaceVector(verts[face.v[0]], verts[face.v[1]], verts[face.v[2]]);
        for (DWORD v : face.v) sums.Add(v, n, face.smGroup);
    }
    for (std::size_t v = 0; v < nv; ++v)
        if (!sums.MergedFinite(static_cast<DWORD>(v)))
            return Fault(MeshFault::kNormalOverflow, -1, static_cast<int>(v));
    return result;
}

std::string MeshFaultText(const MeshCheck& c)
{
    const std::string face = "face " + std::to_string(c.face);
    const std::string vertex = std::to_string(c.vertex);
    switch (c.fault) {
    case MeshFault::kNone: return {};
    case MeshFault::kVertexIndex: return face + " uses vertex " + vertex + ", which the mesh lacks";
    case MeshFault::kMapIndex:
        return face + " uses " + (c.channel == 0 ? "colour vertex " : "map vertex ") + vertex +
               (c.channel == 0 ? "" : " of map channel " + std::to_string(c.channel)) + ", which is not there";
    case MeshFault::kNonFiniteVertex: return "vertex " + vertex + " has a coordinate that is not a finite number";
    case MeshFault::kNonFiniteMapVertex:
        return (c.channel == 0 ? "colour vertex " + vertex
                               : "map vertex " + vertex + " of map channel " + std::to_string(c.channel)) +
               " has a component that is not a finite number";
    case MeshFault::kLongEdge: return face + " has an edge longer than 2^30 along an axis; its normal would overflow";
    case MeshFault::kNormalOverflow:
        return "the normal of vertex " + vertex + " overflows: its faces are too large";
    }
    return {};
}

std::string MeshCheckWarning(const MeshCheck& c)
{
    if (c.shortEdgeFaces <= 0) return {};
    static_assert(kShortEdge == 1e-9f, "the warning names the limit");
    return std::to_string(c.shortEdgeFaces) + (c.shortEdgeFaces == 1 ? " face has an edge" : " faces have edges") +
           " shorter than 1e-9; their normals lose precision";
}

}  // namespace dunsmere
