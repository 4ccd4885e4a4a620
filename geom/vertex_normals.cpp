#include "geom/vertex_normals.h"

#include "geom/parallel.h"

namespace dunsmere {

namespace {

// Below this many faces the lists are built on the calling thread alone.
constexpr std::size_t kParallelNormalFaces = 16384;

// Where part T of PARTS begins in COUNT vertices.
std::size_t PartOf(DWORD count, std::size_t t, int parts)
{
    return static_cast<std::size_t>(count) * t / static_cast<std::size_t>(parts);
}

// Iterative, so that a vertex with a very long list (many faces without a
// smoothing group) cannot exhaust the stack.
void FreeList(NormalNode* node)
{
    while (node) {
        NormalNode* next = node->next;
        delete node;
        node = next;
    }
}

}  // namespace

void NormalNode::AddFaceNormal(const Point3& n, DWORD bits)
{
    NormalNode* node = this;
    for (;;) {
        if ((node->smGroups & bits) != 0 || node->initialised == 0) {
            node->normal = node->normal + n;
            node->smGroups |= bits;
            node->initialised = 1;
            return;
        }
        if (!node->next) break;
        node = node->next;
    }
    node->next = new NormalNode{n, bits, nullptr, 1};
}

const NormalNode& NormalNode::FindNormal(DWORD bits) const
{
    const NormalNode* node = this;
    for (;;) {
        if ((node->smGroups & bits) != 0 || !node->next) return *node;
        node = node->next;
    }
}

void NormalNode::MergeAndNormalize()
{
    for (NormalNode* x = this; x; x = x->next) {
        NormalNode* prev = x;
        NormalNode* y = x->next;
        while (y) {
            if ((y->smGroups & x->smGroups) != 0) {
                x->normal = x->normal + y->normal;
                prev->next = y->next;
                delete y;
            } else {
                prev = y;
            }
            y = prev->next;
        }
        x->normal = Normalize(x->normal);
    }
}

VertexNormals::~VertexNormals() { Release(); }

void VertexNormals::BuildVertexNormals(const Mesh& mesh, const BuildHelpers& helpers)
{
    ClearVertexNormals();
    const int vertCount = mesh.getNumVerts();
    TBSetCount(heads_, vertCount);
    // Each thread owns a range of vertices and goes through every face in
    // order, adding to its own vertices only: each list is the one a single
    // thread builds, its sums taken in the same order.
    const int threads = mesh.faces.size() < kParallelNormalFaces ? 1 : ThreadsOf(helpers);
    NormalNode** heads = heads_.Data();
    const Tab<NormalNode*>& table = heads_;
    const Point3* verts = mesh.verts.data();
    const auto count = static_cast<DWORD>(vertCount);
    ParallelFor(threads > 1 ? helpers : BuildHelpers{}, static_cast<std::size_t>(threads), [&](std::size_t t) {
        const auto lo = static_cast<DWORD>(PartOf(count, t, threads));
        const auto hi = static_cast<DWORD>(PartOf(count, t + 1, threads));
        for (DWORD v = lo; v < hi; ++v) heads[v] = new NormalNode{};
        auto own = [lo, hi](DWORD v) { return v >= lo && v < hi; };
        for (const Face& face : mesh.faces) {
            if (face.v[0] >= count || face.v[1] >= count || face.v[2] >= count) {
                // A corner past the vertices is reported by the table's
                // check, once, and the face adds nothing.
                if (t == 0)
                    for (DWORD v : face.v) (void)table[static_cast<int>(v)];
                continue;
            }
            if (!own(face.v[0]) && !own(face.v[1]) && !own(face.v[2])) continue;
            const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
            // Not normalised: its length is twice the face's area, so larger
            // faces weigh more in the average.
            const Point3 n = CrossProd(c1 - c0, c2 - c1);
            for (DWORD v : face.v)
                if (own(v)) heads[v]->AddFaceNormal(n, face.smGroup);
        }
        for (DWORD v = lo; v < hi; ++v) heads[v]->MergeAndNormalize();
    });
}

Point3 VertexNormals::InterpolatedNormal(const Face& face, float w0, float w1, float w2) const
{
    Point3 n[3];
    for (int k = 0; k < 3; ++k) {
        const NormalNode* head = heads_[static_cast<int>(face.v[k])];
        n[k] = head ? head->FindNormal(face.smGroup).normal : Point3{};
    }
    return {(w0 * n[0].x + w1 * n[1].x) + w2 * n[2].x,
            (w0 * n[0].y + w1 * n[1].y) + w2 * n[2].y,
            (w0 * n[0].z + w1 * n[1].z) + w2 * n[2].z};
}

void VertexNormals::ClearVertexNormals()
{
    const int count = heads_.Count();
    for (int v = 0; v < count; ++v) {
        FreeList(heads_[v]);
        heads_[v] = nullptr;
    }
    heads_.ZeroCount();
}

void VertexNormals::Release()
{
    ClearVertexNormals();
    zfree(heads_);
}

}  // namespace dunsmere
