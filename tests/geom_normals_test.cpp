#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "check_recorder.h"
#include "geom/vertex_normals.h"
#include "host/threads.h"
#include "mesh_builders.h"

using namespace dunsmere;

namespace {

// A fan of triangles around a shared vertex 0 at the origin. Each face gets
// its own outer corners, so only vertex 0 is shared.
struct Fan {
    Mesh mesh;
    Fan() { mesh.setNumVerts(1); }
    // Adds face (0, a, b) with mask `bits`; returns its face vector.
    Point3 Add(const Point3& a, const Point3& b, DWORD bits)
    {
        const int base = mesh.getNumVerts();
        mesh.setNumVerts(base + 2, true);
        mesh.setVert(base, a);
        mesh.setVert(base + 1, b);
        const int f = mesh.getNumFaces();
        mesh.setNumFaces(f + 1, true);
        mesh.faces[static_cast<size_t>(f)].setVerts(0, static_cast<DWORD>(base), static_cast<DWORD>(base + 1));
        mesh.faces[static_cast<size_t>(f)].smGroup = bits;
        return CrossProd(a - Point3{}, b - a);
    }
};

int ListLength(const NormalNode* n)
{
    int len = 0;
    for (; n; n = n->next) ++len;
    return len;
}

void ExpectNear3(const Point3& a, const Point3& b, float tol = 1e-6f)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

TEST(VertexNormals, UnusedVertexKeepsFreshHead)
{
    Fan fan;
    fan.mesh.setNumVerts(3);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    ASSERT_EQ(vn.Count(), 3);
    const NormalNode* head = vn.Head(2);
    EXPECT_EQ(head->normal, Point3{});
    EXPECT_EQ(head->smGroups, 0u);
    EXPECT_EQ(head->initialised, 0);
    EXPECT_EQ(&head->FindNormal(0x5), head);
}

TEST(VertexNormals, OneGroupAveragesByArea)
{
    Fan fan;
    Point3 sum;
    sum += fan.Add({1, 0, 0}, {0, 1, 0.5f}, 0x1);
    sum += fan.Add({0, 1, 0.5f}, {-2, 0, 0}, 0x1);
    sum += fan.Add({-2, 0, 0}, {0, -1, 1}, 0x1);
    sum += fan.Add({0, -1, 1}, {1, 0, 0}, 0x1);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    EXPECT_EQ(ListLength(vn.Head(0)), 1);
    ExpectNear3(vn.Head(0)->normal, Normalize(sum));
}

TEST(VertexNormals, UnrelatedGroupsKeepTheirOwnNodes)
{
    Fan fan;
    const Point3 n1 = fan.Add({1, 0, 0}, {0, 1, 0}, 0x1);
    const Point3 n2 = fan.Add({0, 1, 0}, {0, 0, 1}, 0x2);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    const NormalNode* head = vn.Head(0);
    ASSERT_EQ(ListLength(head), 2);
    ExpectNear3(head->FindNormal(0x1).normal, Normalize(n1));
    ExpectNear3(head->FindNormal(0x2).normal, Normalize(n2));
    EXPECT_EQ(&head->FindNormal(0x3), head);  // first match wins
}

TEST(VertexNormals, LaterFaceBridgesGroupsAndMergeFolds)
{
    Fan fan;
    const Point3 a = fan.Add({1, 0, 0}, {0, 1, 0}, 0x1);
    const Point3 b = fan.Add({0, 1, 0}, {0, 0, 1}, 0x2);
    const Point3 c = fan.Add({0, 0, 1}, {1, 0, 0}, 0x3);
    // Before the merge: head 0x3 with a + c, then 0x2 with b.
    NormalNode head;
    head.AddFaceNormal(a, 0x1);
    head.AddFaceNormal(b, 0x2);
    head.AddFaceNormal(c, 0x3);
    EXPECT_EQ(head.smGroups, 0x3u);
    EXPECT_EQ(head.normal, a + c);
    ASSERT_NE(head.next, nullptr);
    EXPECT_EQ(head.next->smGroups, 0x2u);
    head.MergeAndNormalize();
    EXPECT_EQ(head.next, nullptr);

    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    ASSERT_EQ(ListLength(vn.Head(0)), 1);
    ExpectNear3(vn.Head(0)->normal, Normalize((a + c) + b));
    for (DWORD bits : {0x1u, 0x2u, 0x4u, 0u}) EXPECT_EQ(&vn.Head(0)->FindNormal(bits), vn.Head(0));
}

TEST(VertexNormals, MergeKeepsAbsorbingBitsAndLaterNodes)
{
    // Masks 0x1, 0x2, 0x6, 0x3, 0x8 give the list 0x3 (A), 0x6 (B), 0x8 (C).
    const Point3 v1{1, 0, 0}, v2{0, 2, 0}, v6{0, 0, 3}, v3{1, 1, 0}, v8{0, 1, 1};
    NormalNode head;
    head.AddFaceNormal(v1, 0x1);
    head.AddFaceNormal(v2, 0x2);
    head.AddFaceNormal(v6, 0x6);
    head.AddFaceNormal(v3, 0x3);
    head.AddFaceNormal(v8, 0x8);
    ASSERT_EQ(ListLength(&head), 3);
    EXPECT_EQ(head.smGroups, 0x3u);
    EXPECT_EQ(head.next->smGroups, 0x6u);
    EXPECT_EQ(head.next->next->smGroups, 0x8u);
    const Point3 A = head.normal, B = head.next->normal, C = head.next->next->normal;
    head.MergeAndNormalize();
    ASSERT_EQ(ListLength(&head), 2);
    EXPECT_EQ(head.smGroups, 0x3u);  // not widened by the merged 0x6
    EXPECT_EQ(head.normal, Normalize(A + B));
    EXPECT_EQ(head.next->smGroups, 0x8u);
    EXPECT_EQ(head.next->normal, Normalize(C));
    EXPECT_EQ(&head.FindNormal(0x4), head.next);  // no match: the last node
    // Free what the test allocated.
    delete head.next;
    head.next = nullptr;
}

TEST(VertexNormals, FacesWithoutGroupEachAppendAndZeroFindsTheLast)
{
    Fan fan;
    fan.Add({1, 0, 0}, {0, 1, 0}, 0);
    fan.Add({0, 1, 0}, {0, 0, 1}, 0);
    const Point3 last = fan.Add({0, 0, 1}, {1, 0, 0}, 0);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    const NormalNode* head = vn.Head(0);
    ASSERT_EQ(ListLength(head), 3);
    ExpectNear3(head->FindNormal(0).normal, Normalize(last));
}

TEST(VertexNormals, InterpolatesCornerNormals)
{
    Mesh mesh;
    mesh.setNumVerts(4);
    mesh.setVert(0, {0, 0, 0});
    mesh.setVert(1, {1, 0, 0});
    mesh.setVert(2, {0, 1, 0});
    mesh.setVert(3, {0, 0, 1});
    mesh.setNumFaces(2);
    mesh.faces[0].setVerts(0, 1, 2);  // normal +Z
    mesh.faces[1].setVerts(0, 3, 1);  // normal +Y
    mesh.faces[0].smGroup = mesh.faces[1].smGroup = 0x1;
    VertexNormals vn;
    vn.BuildVertexNormals(mesh);
    const Point3 atCorner0 = vn.InterpolatedNormal(mesh.faces[0], 1, 0, 0);
    EXPECT_NEAR(atCorner0.Length(), 1.0f, 1e-6f);
    EXPECT_EQ(vn.InterpolatedNormal(mesh.faces[0], 0, 0, 1), Point3::ZAxis);  // vertex 2: face 0 only
    const float third = 1.0f / 3.0f;
    EXPECT_LT(vn.InterpolatedNormal(mesh.faces[0], third, third, third).Length(), 1.0f);
}

TEST(VertexNormals, ClearKeepsStorageAndRebuildReplaces)
{
    Fan fan;
    fan.Add({1, 0, 0}, {0, 1, 0}, 0x1);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    vn.BuildVertexNormals(fan.mesh);  // a build on a built object starts with a clear
    EXPECT_EQ(vn.Count(), 3);
    vn.ClearVertexNormals();
    EXPECT_EQ(vn.Count(), 0);
}

TEST(VertexNormals, ManyGrouplessFacesAtOneVertexFreeWithoutRecursion)
{
    Fan fan;
    for (int i = 0; i < 20000; ++i) fan.Add({1, 0, 0}, {0, 1, 0}, 0);
    VertexNormals vn;
    vn.BuildVertexNormals(fan.mesh);
    EXPECT_EQ(ListLength(vn.Head(0)), 20000);
    vn.ClearVertexNormals();
}

// Lists built on several threads are those of one, node for node and bit
// for bit: a large bumpy grid, its faces in mixed and empty groups, one face
// reaching back across every thread's range of vertices.
TEST(VertexNormals, SeveralThreadsBuildOnesLists)
{
    Mesh mesh;
    AddGrid(mesh, 128, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    for (int v = 0; v < mesh.getNumVerts(); ++v) mesh.verts[static_cast<size_t>(v)].z = std::sin(0.37f * v);
    for (size_t f = 0; f < mesh.faces.size(); ++f) mesh.faces[f].smGroup = (f * 2654435761u >> 7) % 5 == 0 ? 0 : 1u << (f % 3);
    mesh.faces[100].setVerts(0, static_cast<DWORD>(mesh.getNumVerts() / 2), static_cast<DWORD>(mesh.getNumVerts() - 1));
    VertexNormals one, several;
    one.BuildVertexNormals(mesh);
    for (int threads : {2, 3, 7}) {
        several.BuildVertexNormals(mesh, {&DefaultThreadStarter(), threads});
        ASSERT_EQ(several.Count(), one.Count());
        for (int v = 0; v < one.Count(); ++v) {
            const NormalNode *a = one.Head(v), *b = several.Head(v);
            for (; a && b; a = a->next, b = b->next)
                ASSERT_TRUE(a->smGroups == b->smGroups && std::memcmp(&a->normal, &b->normal, sizeof(Point3)) == 0)
                    << threads << " threads, vertex " << v;
            ASSERT_TRUE(!a && !b) << threads << " threads, vertex " << v;
        }
    }
}

TEST(VertexNormals, BadVertexIndexIsReportedNotFollowed)
{
    CheckRecorder checks;
    Mesh mesh;
    mesh.setNumVerts(3);
    mesh.setNumFaces(1);
    mesh.faces[0].setVerts(0, 1, 7);
    VertexNormals vn;
    vn.BuildVertexNormals(mesh);
    EXPECT_FALSE(checks.Take().empty());
    EXPECT_EQ(vn.InterpolatedNormal(mesh.faces[0], 0, 0, 1), Point3{});
    EXPECT_FALSE(checks.Take().empty());
}

}  // namespace
