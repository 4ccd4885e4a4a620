#include "geom/vertex_normals.h"

namespace {

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

void VertexNormals::BuildVertexNormals(const Mesh& mesh)
{
    ClearVertexNormals();
    const int vertCount = mesh.getNumVerts();
    TBSetCount(heads_, vertCount);
    for (int v = 0; v < vertCount; ++v) heads_[v] = new NormalNode{};

    const Point3* verts = mesh.verts.data();
    for (const Face& face : mesh.faces) {
        NormalNode* corner[3];
        bool valid = true;
        for (int k = 0; k < 3; ++k) {
            corner[k] = heads_[static_cast<int>(face.v[k])];
            valid = valid && corner[k] != nullptr;
        }
        if (!valid) continue;  // reported by the table's check
        const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
        // Not normalised: its length is twice the face's area, so larger
        // faces weigh more in the average.
        const Point3 n = CrossProd(c1 - c0, c2 - c1);
        for (NormalNode* head : corner) head->AddFaceNormal(n, face.smGroup);
    }
    for (int v = 0; v < vertCount; ++v) heads_[v]->MergeAndNormalize();
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
