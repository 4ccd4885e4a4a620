// The rule every mesh read obeys, held against the normals it protects, and
// the triangles the readers make of polygons.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/mesh/polygon.h"
#include "geom/intersect.h"
#include "geom/vertex_normals.h"
#include "app/mesh/mesh_check.h"
#include "mesh_builders.h"
#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

// COUNT copies of the right triangle with legs LEG at the origin, the
// smoothing groups taken from GROUPS in turn: every face vector is (0, 0,
// LEG^2), and they all meet at the same three vertices.
Mesh Stack(float leg, const std::vector<DWORD>& groups)
{
    Mesh m;
    m.setNumVerts(3);
    m.verts = {{0, 0, 0}, {leg, 0, 0}, {0, leg, 0}};
    m.setNumFaces(static_cast<int>(groups.size()));
    for (size_t f = 0; f < groups.size(); ++f) {
        m.faces[f].setVerts(0, 1, 2);
        m.faces[f].smGroup = groups[f];
    }
    return m;
}

bool UnitLength(const Point3& n) { return std::fabs(Length(n) - 1.0f) < 1e-5f; }

// Whether geom/ gives every face and every vertex node of the mesh a normal
// of unit length, as a sound mesh gets.
bool NormalsWhole(const Mesh& m)
{
    Tab<Point3> faceNormals;
    BuildFaceNormals(m, faceNormals);
    for (int f = 0; f < faceNormals.Count(); ++f)
        if (!UnitLength(faceNormals[f])) return false;
    VertexNormals normals;
    normals.BuildVertexNormals(m);
    for (int v = 0; v < normals.Count(); ++v)
        for (const NormalNode* n = normals.Head(v); n; n = n->next)
            if (n->initialised && !UnitLength(n->normal)) return false;
    return true;
}

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// The last leg the check accepts and the first it refuses, found by halving
// the positive floats between an accepted LOW and a refused HIGH.
struct Limit {
    float lastAccepted, firstRefused;
    MeshCheck refusal;
};
Limit FindLimit(const std::vector<DWORD>& groups, float low, float high)
{
    std::uint32_t ok = Bits(low), bad = Bits(high);
    EXPECT_TRUE(CheckMesh(Stack(low, groups)).ok());
    EXPECT_FALSE(CheckMesh(Stack(high, groups)).ok());
    while (bad - ok > 1) {
        const std::uint32_t mid = ok + (bad - ok) / 2;
        (CheckMesh(Stack(std::bit_cast<float>(mid), groups)).ok() ? ok : bad) = mid;
    }
    return {std::bit_cast<float>(ok), std::bit_cast<float>(bad), CheckMesh(Stack(std::bit_cast<float>(bad), groups))};
}

TEST(MeshCheckLimits, EdgeComponentsUpTo2To30)
{
    const Limit limit = FindLimit({1}, 1.0f, 1e10f);
    EXPECT_EQ(limit.lastAccepted, 1073741824.0f);
    EXPECT_EQ(limit.refusal.fault, MeshFault::kLongEdge);
    EXPECT_EQ(limit.refusal.face, 0);
    EXPECT_TRUE(NormalsWhole(Stack(limit.lastAccepted, {1})));
    // What the rule keeps away: legs of 5e9 lose the face's normal.
    EXPECT_FALSE(NormalsWhole(Stack(5e9f, {1})));
}

// Where the summed face vectors overflow depends on how the normals group
// them by smoothing group; at the limit the check and geom/ must agree to
// the last bit of the leg.
TEST(MeshCheckLimits, SummedFaceVectorsOverflowWhereTheNormalsDo)
{
    const auto repeat = [](std::vector<DWORD> groups, int times) {
        std::vector<DWORD> out;
        for (int i = 0; i < times; ++i) out.insert(out.end(), groups.begin(), groups.end());
        return out;
    };
    std::vector<DWORD> mergedLater = repeat({1, 2}, 8);
    mergedLater.push_back(3);  // joins group 1's node, which then takes in group 2's
    const struct {
        const char* name;
        std::vector<DWORD> groups;
        MeshFault fault;
    } cases[] = {
        {"16 in one group", repeat({1}, 16), MeshFault::kNormalOverflow},
        {"17 in one group", repeat({1}, 17), MeshFault::kNormalOverflow},
        {"8 and 8 apart", repeat({1, 2}, 8), MeshFault::kLongEdge},
        {"8 and 8 merged", mergedLater, MeshFault::kNormalOverflow},
        {"16 without a group", repeat({0}, 16), MeshFault::kLongEdge},
        // Two nodes of 18 faces each once folded, from four before.
        {"many groups folded", repeat({1, 2, 4, 8, 6, 9}, 6), MeshFault::kNormalOverflow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Limit limit = FindLimit(c.groups, 1.0f, 4.0f * kMaxEdgeComponent);
        EXPECT_EQ(limit.refusal.fault, c.fault);
        EXPECT_TRUE(NormalsWhole(Stack(limit.lastAccepted, c.groups)));
        if (limit.refusal.fault == MeshFault::kNormalOverflow) {
            EXPECT_FALSE(NormalsWhole(Stack(limit.firstRefused, c.groups)));
            EXPECT_EQ(limit.refusal.vertex, 0);
        }
    }
}

TEST(MeshCheck, NamesTheFirstBadIndexOrNumber)
{
    const auto square = [] {
        Mesh m = UnitSquare();
        m.setNumMapVerts(2, 4);
        m.setNumVertCol(4);
        m.setNumVCFaces(2);
        for (int f = 0; f < 2; ++f) {
            m.mapFaces(2)[f].setTVerts(0, 1, 2);
            m.vcFace()[f].setTVerts(0, 1, 2);
        }
        return m;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    ASSERT_TRUE(CheckMesh(square()).ok());

    Mesh m = square();
    m.faces[1].v[2] = 4;
    MeshCheck c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kVertexIndex && c.face == 1 && c.vertex == 4);

    m = square();
    m.mapFaces(2)[1].t[0] = 4;
    c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kMapIndex && c.face == 1 && c.channel == 2);

    m = square();
    m.vcFace()[0].t[1] = 9;
    c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kMapIndex && c.face == 0 && c.channel == 0 && c.vertex == 9);

    m = square();
    m.verts[3].y = nan;
    c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kNonFiniteVertex && c.vertex == 3);

    m = square();
    m.mapVerts(2)[1].x = -inf;
    c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kNonFiniteMapVertex && c.vertex == 1 && c.channel == 2);

    m = square();
    m.vertCol()[2].z = nan;
    c = CheckMesh(m);
    EXPECT_TRUE(c.fault == MeshFault::kNonFiniteMapVertex && c.vertex == 2 && c.channel == 0);
    EXPECT_EQ(MeshFaultText(c), "colour vertex 2 has a component that is not a finite number");
}

TEST(MeshCheck, CountsFacesWithAnEdgeShorterThan1e9)
{
    Mesh m;
    m.setNumVerts(6);
    m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 5e-10f, 0}, {2e-9f, 0, 0}, {0, 2e-9f, 0}};
    m.setNumFaces(4);
    m.faces[0].setVerts(0, 1, 2);  // unit legs
    m.faces[1].setVerts(1, 3, 2);  // one edge of 5e-10
    m.faces[2].setVerts(0, 4, 5);  // legs of 2e-9
    m.faces[3].setVerts(3, 2, 1);  // the same short edge, last
    const MeshCheck c = CheckMesh(m);
    ASSERT_TRUE(c.ok());
    EXPECT_EQ(c.shortEdgeFaces, 2);
    EXPECT_EQ(MeshCheckWarning(c), "2 faces have edges shorter than 1e-9; their normals lose precision");
}

// Twice the signed area of a 2-D triangle.
double Cross(const Point3& a, const Point3& b, const Point3& c)
{
    const double ax = static_cast<double>(a.x), ay = static_cast<double>(a.y);
    const double bx = static_cast<double>(b.x), by = static_cast<double>(b.y);
    const double cx = static_cast<double>(c.x), cy = static_cast<double>(c.y);
    return (bx - ax) * (cy - ay) - (cx - ax) * (by - ay);
}

// Even-odd test: whether p lies inside the polygon in the xy-plane.
bool Inside(const std::vector<Point3>& poly, double px, double py)
{
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const double xi = static_cast<double>(poly[i].x), yi = static_cast<double>(poly[i].y);
        const double xj = static_cast<double>(poly[j].x), yj = static_cast<double>(poly[j].y);
        if ((yi > py) != (yj > py) && px < (xj - xi) * (py - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

// A counter-clockwise polygon in the xy-plane is covered exactly by its
// triangles: corners.size() - 2 of them, each turning its way, each inside
// it, their areas adding up to its own.
void ExpectCovers(const std::vector<Point3>& poly, const std::vector<std::array<int, 3>>& tris)
{
    ASSERT_EQ(tris.size(), poly.size() - 2);
    double area = 0, sum = 0;
    for (size_t i = 0; i < poly.size(); ++i) area += Cross({}, poly[i], poly[(i + 1) % poly.size()]);
    for (const auto& t : tris) {
        const Point3 &a = poly[static_cast<size_t>(t[0])], &b = poly[static_cast<size_t>(t[1])],
                     &c = poly[static_cast<size_t>(t[2])];
        const double twice = Cross(a, b, c);
        EXPECT_GT(twice, 0);
        sum += twice;
        const double cx = (static_cast<double>(a.x) + static_cast<double>(b.x) + static_cast<double>(c.x)) / 3;
        const double cy = (static_cast<double>(a.y) + static_cast<double>(b.y) + static_cast<double>(c.y)) / 3;
        EXPECT_TRUE(Inside(poly, cx, cy));
    }
    EXPECT_NEAR(sum, area, 1e-9 * std::fabs(area));
}

using Triangles = std::vector<std::array<int, 3>>;

Triangles Fan(size_t corners)
{
    Triangles t;
    for (int k = 1; k + 1 < static_cast<int>(corners); ++k) t.push_back({0, k, k + 1});
    return t;
}

TEST(Polygon, KeepsAFanThatCoversIt)
{
    Triangles t;
    // Convex and off the plane, and an L whose fan starts at the corner
    // facing its notch: both fan.
    const std::vector<Point3> pentagon{{0, 0, 0}, {2, 0, 0.1f}, {3, 1, 0}, {1, 3, -0.1f}, {-1, 1, 0}};
    const std::vector<Point3> l{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}};
    // Quads collapsed at a pole, the repeat second, last or closing the loop.
    const std::vector<Point3> pole1{{0, 0, 0}, {2, 0, 0}, {2, 0, 0}, {1, 2, 0}};
    const std::vector<Point3> pole2{{0, 0, 0}, {2, 0, 0}, {1, 2, 0}, {1, 2, 0}};
    const std::vector<Point3> pole3{{0, 0, 0}, {2, 0, 0}, {1, 2, 0}, {0, 0, 0}};
    const std::vector<Point3> pole4{{0, 0, 0}, {0, 0, 0}, {2, 0, 0}, {1, 2, 0}};
    for (const auto& poly : {pentagon, l, pole1, pole2, pole3, pole4}) {
        ASSERT_EQ(TriangulatePolygon(poly, t), PolygonFault::kNone);
        EXPECT_EQ(t, Fan(poly.size()));
    }
}

TEST(Polygon, ClipsEarsInAscendingOrderWhereTheFanFails)
{
    Triangles t;
    // The L from the corner whose fan crosses the notch.
    const std::vector<Point3> l{{2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}, {0, 0, 0}};
    ASSERT_EQ(TriangulatePolygon(l, t), PolygonFault::kNone);
    EXPECT_EQ(t, (Triangles{{5, 0, 1}, {5, 1, 2}, {5, 2, 3}, {5, 3, 4}}));
    ExpectCovers(l, t);

    // The same L standing in the xz-plane, facing -y: the plane's axes and
    // its mirroring follow the Newell normal, and the triangles are the same.
    std::vector<Point3> standing;
    for (const Point3& p : l) standing.push_back({p.x, 0.0f, p.y});
    ASSERT_EQ(TriangulatePolygon(standing, t), PolygonFault::kNone);
    EXPECT_EQ(t, (Triangles{{5, 0, 1}, {5, 1, 2}, {5, 2, 3}, {5, 3, 4}}));
}

// Star-shaped about their centre but not about corner 0, mostly: random
// radii at ascending angles, started at a random corner, lifted off the
// plane a little.
TEST(Polygon, RandomConcavePolygonsAreCoveredExactly)
{
    std::mt19937 draw(11);
    std::uniform_real_distribution<float> radius(0.2f, 1.0f), lift(-0.01f, 0.01f);
    int clipped = 0;
    for (int round = 0; round < 200; ++round) {
        const int n = 4 + round % 29;
        std::vector<Point3> poly;
        const int start = static_cast<int>(draw() % static_cast<unsigned>(n));
        for (int i = 0; i < n; ++i) {
            const double angle = 2 * 3.14159265358979 * ((i + start) % n) / n;
            const float r = radius(draw);
            const float x = r * static_cast<float>(std::cos(angle)), y = r * static_cast<float>(std::sin(angle));
            poly.push_back({x, y, lift(draw)});
        }
        Triangles t;
        ASSERT_EQ(TriangulatePolygon(poly, t), PolygonFault::kNone) << "round " << round;
        ExpectCovers(poly, t);
        bool fan = true;
        for (int k = 1; k + 1 < n; ++k) fan = fan && t[static_cast<size_t>(k - 1)] == std::array<int, 3>{0, k, k + 1};
        clipped += fan ? 0 : 1;
    }
    EXPECT_GT(clipped, 100);  // the ear clipping did the work
}

TEST(Polygon, RefusesWhatCannotBeTriangulated)
{
    Triangles t;
    EXPECT_EQ(TriangulatePolygon({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, t), PolygonFault::kZeroArea);
    EXPECT_EQ(TriangulatePolygon({{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, -1, 0}, {1, 2, 0}}, t),
              PolygonFault::kSelfIntersecting);
    // A spike folding back along its own edge.
    EXPECT_EQ(TriangulatePolygon({{0, 0, 0}, {2, 0, 0}, {2, 2, 0}, {2, 1, 0}, {0, 2, 0}}, t),
              PolygonFault::kSelfIntersecting);
    EXPECT_TRUE(t.empty());
    // A comb with more teeth than ear clipping takes on; a convex polygon of
    // as many corners fans at once.
    std::vector<Point3> comb{{0, 0, 0}}, round;
    for (int i = 0; i <= kMaxClippedCorners; ++i) {
        comb.push_back({static_cast<float>(i), i % 2 ? 1.0f : 2.0f, 0});
        const double a = 2 * 3.14159265358979 * i / (kMaxClippedCorners + 3);
        round.push_back({static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a)), 0});
    }
    comb.push_back({static_cast<float>(kMaxClippedCorners), 0, 0});
    std::rotate(comb.begin(), comb.begin() + 2, comb.end());
    ASSERT_GT(comb.size(), static_cast<size_t>(kMaxClippedCorners));
    EXPECT_EQ(TriangulatePolygon(comb, t), PolygonFault::kTooManyCorners);
    ASSERT_EQ(TriangulatePolygon(round, t), PolygonFault::kNone);
    EXPECT_EQ(t.size(), round.size() - 2);
}

// The crate's quads, fanned by a reading of the file's own: the reader keeps
// exactly those triangles in that order.
TEST(MeshRulesObj, TheCrateKeepsItsFans)
{
    const std::string path = std::string(DUNSMERE_EXAMPLES) + "/crate.obj";
    const Mesh mesh = ReadMeshFile(path).mesh;
    std::ifstream in(path);
    std::vector<std::array<DWORD, 3>> fans;
    for (std::string line; std::getline(in, line);) {
        if (!line.starts_with("f ")) continue;
        std::istringstream corners(line.substr(2));
        std::vector<DWORD> v;
        for (std::string c; corners >> c;) v.push_back(static_cast<DWORD>(std::stoul(c.substr(0, c.find('/')))) - 1);
        for (size_t k = 1; k + 1 < v.size(); ++k) fans.push_back({v[0], v[k], v[k + 1]});
    }
    ASSERT_EQ(fans.size(), mesh.faces.size());
    ASSERT_GT(fans.size(), 3000u);
    for (size_t f = 0; f < fans.size(); ++f)
        EXPECT_TRUE(std::equal(fans[f].begin(), fans[f].end(), mesh.faces[f].v)) << "face " << f;
}

// Quads read through assimp, one of them concave, keep the triangles assimp
// gave them before the mesh rules came: its split, not the OBJ reader's.
TEST(MeshRulesObj, AssimpQuadsKeepTheirTriangles)
{
    ScratchDir dir;
    WriteText(dir / "quads.ply",
              "ply\nformat ascii 1.0\nelement vertex 6\nproperty float x\nproperty float y\nproperty float z\n"
              "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
              "0 0 0\n2 0 0\n2 1 0\n1.5 0.8 0\n0 1 0\n0 0 1\n4 0 1 2 4\n4 1 2 4 3\n");
    const Mesh mesh = ReadMeshFile(dir / "quads.ply").mesh;
    std::vector<std::array<Point3, 3>> got;
    for (const Face& f : mesh.faces) got.push_back({mesh.verts[f.v[0]], mesh.verts[f.v[1]], mesh.verts[f.v[2]]});
    const Point3 a{0, 0, 0}, b{2, 0, 0}, c{2, 1, 0}, d{1.5f, 0.8f, 0}, e{0, 1, 0};
    const std::vector<std::array<Point3, 3>> pinned{{a, b, c}, {a, c, e}, {d, b, c}, {d, c, e}};
    EXPECT_EQ(got, pinned);
}

TEST(MeshRulesObj, GeometryFaultsNameTheLineOfTheFaceOrVertex)
{
    ScratchDir dir;
    WriteText(dir / "edge.obj", "v 0 0 0\nv 0 1 0\nv 1 0 0\nv 0 2e9 0\nf 1 2 3\n\nf 1 3 4\n");
    try {
        ReadMeshFile(dir / "edge.obj");
        ADD_FAILURE() << "read";
    } catch (const MeshFileError& e) {
        EXPECT_EQ(e.line(), 7) << e.what();
    }
    // Sixteen faces on the same corners: the first of them, vertex 1, on line 3.
    std::string text = "v 5 5 5\n# pad\nv 0 0 0\nv 1073741824 0 0\nv 0 1073741824 0\n";
    for (int i = 0; i < 16; ++i) text += "f 4 2 3\n";
    WriteText(dir / "sum.obj", text);
    try {
        ReadMeshFile(dir / "sum.obj");
        ADD_FAILURE() << "read";
    } catch (const MeshFileError& e) {
        EXPECT_EQ(e.line(), 3) << e.what();
    }
}

// What the writer writes the reader reads back, also where a kept line ends
// in a backslash, which would otherwise continue it onto the next line.
TEST(MeshRulesObj, ALineEndingInABackslashReadsBack)
{
    ScratchDir dir;
    WriteText(dir / "in.obj", "g lid\\\\\n\nv 0 0 0\nv 1 0 0\nv 0 1 0\ng c:\\\\\n\nf 1 2 3\n");
    const MeshFile original = ReadMeshFile(dir / "in.obj");
    ASSERT_EQ(original.objLines.size(), 2u);
    EXPECT_EQ(original.objLines[0].text, "g lid\\");
    WriteMeshFile(original, original.mesh, dir / "out.obj");
    const MeshFile back = ReadMeshFile(dir / "out.obj");
    ExpectSameMesh(original.mesh, back.mesh);
    ASSERT_EQ(back.objLines.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back.objLines[i].text, original.objLines[i].text);
        EXPECT_EQ(back.objLines[i].face, original.objLines[i].face);
    }
    WriteMeshFile(back, back.mesh, dir / "again.obj");
    EXPECT_EQ(ReadBytes(dir / "again.obj"), ReadBytes(dir / "out.obj"));
}

}  // namespace
