// Occluder nodes in the ray scene: a bake with occluders against the same
// faces merged into the selected mesh and left out of the bake, for the map
// and for vertex colours; the standalone host's occluder files and ground
// plane; and the scaling that carries them with the mesh.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/command/command.h"
#include "app/command/scaling.h"
#include "app/session/occluders.h"
#include "app/session/session.h"
#include "app/session/standalone_host.h"
#include "eval/eval.h"
#include "map/map.h"
#include "mesh_builders.h"
#include "scratch_dir.h"
#include "scripted_bitmaps.h"
#include "scripted_host.h"

using namespace dunsmere;

namespace {

// The test host with occluder nodes, each with its matrix (the identity
// where none is given).
class OccluderHost : public ScriptedHost {
public:
    std::vector<INode*> occluders;
    std::vector<Matrix3> matrices;

    int GetOccluderNodeCount() override { return static_cast<int>(occluders.size()); }
    INode* GetOccluderNode(int i) override { return occluders.at(static_cast<size_t>(i)); }
    Matrix3 GetOccluderTM(int i) override
    {
        return static_cast<size_t>(i) < matrices.size() ? matrices[static_cast<size_t>(i)] : Matrix3();
    }
};

// A unit box standing on z = 0, centred on x = y = 0, each side an n x n
// grid of its own, facing out, mapped into its own cell of a 3 x 2 atlas
// on channel 1.
Mesh MappedBox(int n)
{
    Mesh mesh;
    const struct {
        Point3 origin, du, dv;
    } sides[] = {{{-0.5f, -0.5f, 0}, {0, 1, 0}, {1, 0, 0}}, {{-0.5f, -0.5f, 1}, {1, 0, 0}, {0, 1, 0}},
                 {{-0.5f, -0.5f, 0}, {0, 0, 1}, {0, 1, 0}}, {{0.5f, -0.5f, 0}, {0, 1, 0}, {0, 0, 1}},
                 {{-0.5f, -0.5f, 0}, {1, 0, 0}, {0, 0, 1}}, {{-0.5f, 0.5f, 0}, {0, 0, 1}, {1, 0, 0}}};
    for (int s = 0; s < 6; ++s) AddGrid(mesh, n, sides[s].origin, sides[s].du, sides[s].dv, 1u << s);
    const int side = (n + 1) * (n + 1);
    mesh.setNumMapVerts(1, mesh.getNumVerts());
    for (int v = 0; v < mesh.getNumVerts(); ++v) {
        const int s = v / side, i = v % side % (n + 1), j = v % side / (n + 1);
        mesh.mapVerts(1)[v] = {(static_cast<float>(s % 3) + 0.05f + 0.9f * static_cast<float>(i) / static_cast<float>(n)) / 3.0f,
                               (static_cast<float>(s / 3) + 0.05f + 0.9f * static_cast<float>(j) / static_cast<float>(n)) / 2.0f,
                               0.0f};
    }
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const DWORD* c = mesh.faces[static_cast<size_t>(f)].v;
        mesh.mapFaces(1)[f].setTVerts(c[0], c[1], c[2]);
    }
    return mesh;
}

// A 4 x 4 ground at height z, facing up unless `down`.
Mesh Ground(float z = 0.0f, bool down = false)
{
    Mesh mesh;
    AddSquare(mesh, 4.0f, z, down);
    return mesh;
}

// BAKED with OTHERS' faces after its own, all of BAKED's faces selected and
// no other; OTHERS' faces map onto BAKED's first map vertex.
Mesh Merged(const Mesh& baked, const std::vector<Mesh>& others)
{
    std::vector<Point3> verts = baked.verts;
    std::vector<Face> faces = baked.faces;
    for (const Mesh& other : others) {
        const DWORD base = static_cast<DWORD>(verts.size());
        verts.insert(verts.end(), other.verts.begin(), other.verts.end());
        for (Face f : other.faces) {
            for (DWORD& v : f.v) v += base;
            faces.push_back(f);
        }
    }
    Mesh mesh;
    mesh.setNumVerts(static_cast<int>(verts.size()));
    mesh.verts = verts;
    mesh.setNumFaces(static_cast<int>(faces.size()));
    mesh.faces = faces;
    if (baked.mapSupport(1)) {
        mesh.setNumMapVerts(1, baked.getNumMapVerts(1));
        for (int v = 0; v < baked.getNumMapVerts(1); ++v) mesh.mapVerts(1)[v] = baked.mapVerts(1)[v];
        for (int f = 0; f < baked.getNumFaces(); ++f) mesh.mapFaces(1)[f] = baked.mapFaces(1)[f];
    }
    mesh.faceSel.ClearAll();
    for (int f = 0; f < baked.getNumFaces(); ++f) mesh.faceSel.Set(f);
    return mesh;
}

UtilitySettings BakeSettings(int algorithm)
{
    UtilitySettings s;
    s.algorithm = algorithm;
    s.XSiz = s.YSiz = 48;
    s.horizontalSpread = 8;
    s.verticalSpread = 2;
    s.mapChannel = 1;
    s.dist = 1.0f;
    s.noiseOn = 0;
    return s;
}

// A bake of SELECTED through the test host, with OCCLUDERS offered as nodes.
struct Bake {
    std::vector<BMM_Color_64> pixels;  // the map
    std::vector<Point3> colours;       // the first `keep` vertex colours
};

Bake BakeWith(const Mesh& selected, const std::vector<Mesh>& occluders, const UtilitySettings& settings,
              const std::vector<Matrix3>& matrices = {}, int keep = -1)
{
    OccluderHost host;
    ScriptedMeshObject object;
    object.mesh = selected;
    ScriptedNode node(&object);
    host.selection = {&node};
    std::vector<ScriptedMeshObject> objects(occluders.size());
    std::vector<ScriptedNode> nodes;
    nodes.reserve(occluders.size());
    for (size_t i = 0; i < occluders.size(); ++i) {
        objects[i].mesh = occluders[i];
        // A parametric object: the run must delete the copy it converts to.
        objects[i].convertsToCopy = true;
        nodes.emplace_back(&objects[i]);
        host.occluders.push_back(&nodes.back());
    }
    host.matrices = matrices;
    ScriptedBitmapManager bitmaps;
    const BitmapManagerScope installed(&bitmaps);
    RunTables tables;
    Bake bake;
    if (settings.algorithm == kAlgorithmVertexColors) {
        GenerateVertexColors(host, settings, tables, DefaultThreadStarter());
        const int count = keep < 0 ? object.mesh.getNumVertCol() : keep;
        EXPECT_GE(object.mesh.getNumVertCol(), count);
        for (int v = 0; v < count && v < object.mesh.getNumVertCol(); ++v) bake.colours.push_back(object.mesh.vertCol()[v]);
    } else {
        MapRunState state;
        GenerateSmurlMap(host, settings, tables, state, DefaultThreadStarter());
        bake.pixels = bitmaps.pixels;
    }
    for (const ScriptedMeshObject& o : objects)
        EXPECT_EQ(o.copiesDeleted, settings.sceneOccluders ? 1 : 0);
    return bake;
}

// Bit for bit, so that -0 and +0 or two NaNs are told apart.
bool SameBits(const std::vector<Point3>& a, const std::vector<Point3>& b)
{
    if (a.size() != b.size()) return false;
    static_assert(sizeof(Point3) == 3 * sizeof(float));
    return a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Point3)) == 0;
}

TEST(Occluders, AGroundOccluderBakesTheMapOfTheMergedMeshBakedOnTheBoxAlone)
{
    const Mesh box = MappedBox(2);
    UtilitySettings withOccluders = BakeSettings(kAlgorithmUVMap);
    withOccluders.sceneOccluders = 1;
    UtilitySettings merged = BakeSettings(kAlgorithmUVMap);
    merged.selectedOnly = 1;

    const Bake occluded = BakeWith(box, {Ground()}, withOccluders);
    ASSERT_EQ(occluded.pixels.size(), 48u * 48u);
    EXPECT_EQ(occluded.pixels, BakeWith(Merged(box, {Ground()}), {}, merged).pixels);
    // The ground really shades the box.
    EXPECT_NE(occluded.pixels, BakeWith(box, {}, BakeSettings(kAlgorithmUVMap)).pixels);
}

TEST(Occluders, AGroundOccluderBakesTheColoursOfTheMergedMeshBakedOnTheBoxAlone)
{
    const Mesh box = MappedBox(4);
    UtilitySettings withOccluders = BakeSettings(kAlgorithmVertexColors);
    withOccluders.sceneOccluders = 1;
    UtilitySettings merged = BakeSettings(kAlgorithmVertexColors);
    merged.selectedOnly = 1;

    const int keep = box.getNumVerts();
    const Bake occluded = BakeWith(box, {Ground(), Ground(-0.25f)}, withOccluders);
    ASSERT_EQ(occluded.colours.size(), static_cast<size_t>(keep));
    EXPECT_TRUE(SameBits(occluded.colours,
                         BakeWith(Merged(box, {Ground(), Ground(-0.25f)}), {}, merged, {}, keep).colours));
    EXPECT_FALSE(SameBits(occluded.colours, BakeWith(box, {}, BakeSettings(kAlgorithmVertexColors)).colours));
}

// The matrix carries the occluder into the box's space, and a mirroring one
// keeps each face fronting the side it fronts in its own space: a ground
// facing down at z = 0.5, mirrored in z and moved down by 0.5, is the
// ground facing up at z = 0.
TEST(Occluders, AMirroredMovedOccluderIsTheGroundItLandsAs)
{
    const Mesh box = MappedBox(4);
    UtilitySettings withOccluders = BakeSettings(kAlgorithmVertexColors);
    withOccluders.sceneOccluders = 1;
    UtilitySettings merged = BakeSettings(kAlgorithmVertexColors);
    merged.selectedOnly = 1;
    const Matrix3 mirror({1, 0, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 0.5f});

    const int keep = box.getNumVerts();
    EXPECT_TRUE(SameBits(BakeWith(box, {Ground(0.5f, true)}, withOccluders, {mirror}).colours,
                         BakeWith(Merged(box, {Ground()}), {}, merged, {}, keep).colours));
}

TEST(Occluders, WithTheSettingOffOccludersChangeNothing)
{
    const Mesh box = MappedBox(2);
    EXPECT_EQ(BakeWith(box, {Ground()}, BakeSettings(kAlgorithmUVMap)).pixels,
              BakeWith(box, {}, BakeSettings(kAlgorithmUVMap)).pixels);
    EXPECT_TRUE(SameBits(BakeWith(box, {Ground()}, BakeSettings(kAlgorithmVertexColors)).colours,
                         BakeWith(box, {}, BakeSettings(kAlgorithmVertexColors)).colours));
}

// The plain route tests the scene's faces one by one, occluders included.
TEST(Occluders, ThePlainRouteSeesTheOccludersAsTheTreeDoes)
{
    const Mesh box = MappedBox(2);
    UtilitySettings settings = BakeSettings(kAlgorithmUVMap);
    settings.sceneOccluders = 1;
    const Bake tree = BakeWith(box, {Ground()}, settings);
    ::setenv("DUNSMERE_RAYS", "plain", 1);
    const Bake plain = BakeWith(box, {Ground()}, settings);
    ::unsetenv("DUNSMERE_RAYS");
    EXPECT_EQ(plain.pixels, tree.pixels);
}

MeshFile FileOf(const Mesh& mesh)
{
    MeshFile file;
    file.mesh = mesh;
    return file;
}

// Corners of a mesh off the origin, so that neither the middle nor the
// extremes are round numbers.
Mesh Soup() { return RandomSoup(40, 1.5f, 7, {3.25f, -1.75f, 0.5f}); }

struct Box {
    Point3 lo, hi;
};

Box BoundsOf(const std::vector<Point3>& points)
{
    Box b{points.at(0), points.at(0)};
    for (const Point3& p : points) {
        b.lo = {std::min(b.lo.x, p.x), std::min(b.lo.y, p.y), std::min(b.lo.z, p.z)};
        b.hi = {std::max(b.hi.x, p.x), std::max(b.hi.y, p.y), std::max(b.hi.z, p.z)};
    }
    return b;
}

Point3 AxisVector(int axis, float length)
{
    return {axis == 0 ? length : 0.0f, axis == 1 ? length : 0.0f, axis == 2 ? length : 0.0f};
}

void ExpectGroundPlane(const Mesh& mesh, const std::string& axisText)
{
    SCOPED_TRACE(axisText);
    const int axis = axisText[1] - 'x';
    const bool atMax = axisText[0] == '+';
    const Mesh plane = GroundPlane(mesh, axisText);
    ASSERT_EQ(plane.getNumFaces(), 2);
    const Box mb = BoundsOf(mesh.verts), pb = BoundsOf(plane.verts);
    // Exactly at the extreme.
    for (const Point3& p : plane.verts) EXPECT_EQ(p[axis], atMax ? mb.hi[axis] : mb.lo[axis]);
    // Facing the mesh.
    Tab<Point3> normals;
    BuildFaceNormals(plane, normals);
    for (int f = 0; f < 2; ++f) EXPECT_EQ(normals[f], AxisVector(axis, atMax ? -1.0f : 1.0f));
    // Ten diagonals across, centred on the mesh's box.
    auto wide = [](float f) { return static_cast<double>(f); };
    const double dx = wide(mb.hi.x) - wide(mb.lo.x), dy = wide(mb.hi.y) - wide(mb.lo.y),
                 dz = wide(mb.hi.z) - wide(mb.lo.z);
    const double diagonal = std::sqrt(dx * dx + dy * dy + dz * dz);
    for (int a = 0; a < 3; ++a) {
        if (a == axis) continue;
        EXPECT_NEAR(wide(pb.hi[a]) - wide(pb.lo[a]), 10.0 * diagonal, 1e-5 * diagonal);
        EXPECT_NEAR((wide(pb.hi[a]) + wide(pb.lo[a])) / 2.0, (wide(mb.hi[a]) + wide(mb.lo[a])) / 2.0, 1e-5 * diagonal);
    }
}

TEST(GroundPlane, LiesAtTheMeshsExtremeFacingItTenDiagonalsAcross)
{
    const Mesh mesh = Soup();
    ExpectGroundPlane(mesh, "-z");
    ExpectGroundPlane(mesh, "+z");
    ExpectGroundPlane(mesh, "+x");
    ExpectGroundPlane(mesh, "-y");
    EXPECT_THROW(GroundPlane(mesh, "z"), SessionError);
    EXPECT_EQ(GroundPlane(Mesh(), "-z").getNumFaces(), 0);
}

// The standalone host offers the occluder files and the ground plane as its
// occluder nodes, never its inputs, and a bake through it is the bake of
// the merged mesh.
TEST(StandaloneOccluders, TheFilesAndTheGroundPlaneShadeTheSelectedMesh)
{
    const ScratchDir dir;
    const std::string path = dir / "wall.obj";
    std::ofstream(path) << "v 0.75 -1 0\nv 0.75 1 0\nv 0.75 1 1.5\nv 0.75 -1 1.5\nf 1 2 3\nf 1 3 4\n";
    const Mesh box = MappedBox(4);
    StandaloneHost host("");
    host.nodes.push_back(std::make_unique<SceneNode>("box", FileOf(box)));
    host.selection = {host.nodes[0].get()};
    ASSERT_TRUE(AddOccluders(host, {path}, std::string("-z")));

    ASSERT_EQ(host.GetOccluderNodeCount(), 2);
    EXPECT_EQ(host.nodes.size(), 1u);
    EXPECT_EQ(host.GetOccluderTM(0), Matrix3());
    EXPECT_EQ(host.GetOccluderTM(1), Matrix3());
    const Mesh wall = host.occluders[0]->CurrentMesh();
    const Mesh ground = host.occluders[1]->CurrentMesh();
    EXPECT_EQ(wall.getNumFaces(), 2);
    EXPECT_EQ(ground.verts, GroundPlane(box, "-z").verts);

    UtilitySettings settings = BakeSettings(kAlgorithmVertexColors);
    settings.sceneOccluders = 1;
    RunTables tables;
    GenerateVertexColors(host, settings, tables, DefaultThreadStarter());
    const Mesh& baked = host.nodes[0]->CurrentMesh();
    ASSERT_EQ(baked.getNumVertCol(), box.getNumVerts());
    const std::vector<Point3> colours(baked.vertCol(), baked.vertCol() + baked.getNumVertCol());

    UtilitySettings merged = BakeSettings(kAlgorithmVertexColors);
    merged.selectedOnly = 1;
    EXPECT_TRUE(SameBits(colours, BakeWith(Merged(box, {wall, ground}), {}, merged, {}, box.getNumVerts()).colours));
    EXPECT_FALSE(SameBits(colours, BakeWith(box, {}, BakeSettings(kAlgorithmVertexColors)).colours));
}

TEST(StandaloneOccluders, NoGroundPlaneWithoutOneSelectedMesh)
{
    StandaloneHost host("");
    ASSERT_TRUE(AddOccluders(host, {}, std::string("+y")));
    EXPECT_EQ(host.GetOccluderNodeCount(), 0);
    EXPECT_THROW(AddOccluders(host, {}, std::string("y+")), SessionError);
}

// Scaled with the mesh and put back with it; an occluder the scale would
// take past the mesh check's bound fails the check.
TEST(StandaloneOccluders, ScaleWithTheMeshAndFallUnderItsRefusal)
{
    SceneNode node("box", FileOf(MappedBox(1)));
    SceneNode ground("ground", FileOf(Ground()));
    const std::vector<Point3> original = ground.CurrentMesh().verts;
    {
        ScaledNode scaled(node, 3);
        scaled.Add(ground);
        for (size_t v = 0; v < original.size(); ++v)
            EXPECT_EQ(ground.CurrentMesh().verts[v], original[v] * 8.0f);
        EXPECT_TRUE(scaled.MeshesPass());
    }
    EXPECT_EQ(ground.CurrentMesh().verts, original);

    ScaledNode scaled(node, 29);
    scaled.Add(ground);  // 4 * 2^29 = 2^31: an edge past 2^30
    EXPECT_FALSE(scaled.MeshesPass());
    scaled.Restore();
    EXPECT_EQ(ground.CurrentMesh().verts, original);
}

}  // namespace
