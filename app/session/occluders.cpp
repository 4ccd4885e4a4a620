#include "app/session/occluders.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <utility>

#include "app/mesh/mesh_files.h"
#include "app/session/session.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

namespace {

constexpr double kGroundSpan = 10.0;

// The axis index and whether the plane lies at the maximum; false for a
// text that names none.
bool ParseAxis(const std::string& text, int& axis, bool& atMax)
{
    if (text.size() != 2 || (text[0] != '-' && text[0] != '+') || text[1] < 'x' || text[1] > 'z') return false;
    axis = text[1] - 'x';
    atMax = text[0] == '+';
    return true;
}

float& Component(Point3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

}  // namespace

Mesh GroundPlane(const Mesh& mesh, const std::string& axisText)
{
    int axis = 0;
    bool atMax = false;
    if (!ParseAxis(axisText, axis, atMax))
        throw SessionError("--ground-plane " + axisText + ": not one of -x +x -y +y -z +z");
    Mesh plane;
    if (mesh.faces.empty()) return plane;

    constexpr float kHuge = std::numeric_limits<float>::infinity();
    Point3 lo{kHuge, kHuge, kHuge}, hi{-kHuge, -kHuge, -kHuge};
    for (const Face& face : mesh.faces)
        for (DWORD v : face.v) {
            Point3 p = mesh.verts[v];
            for (int a = 0; a < 3; ++a) {
                Component(lo, a) = std::min(Component(lo, a), Component(p, a));
                Component(hi, a) = std::max(Component(hi, a), Component(p, a));
            }
        }
    double diagonal2 = 0.0;
    for (int a = 0; a < 3; ++a) {
        const double d = static_cast<double>(Component(hi, a)) - static_cast<double>(Component(lo, a));
        diagonal2 += d * d;
    }
    const double half = kGroundSpan * std::sqrt(diagonal2) / 2.0;

    // u x v is the axis' own direction: with corners in the order below the
    // plane fronts +axis, and the corners are turned for a plane at the
    // maximum, which fronts -axis.
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    auto middle = [&](int a) {
        return (static_cast<double>(Component(lo, a)) + static_cast<double>(Component(hi, a))) / 2.0;
    };
    auto corner = [&](double su, double sv) {
        Point3 p;
        Component(p, axis) = atMax ? Component(hi, axis) : Component(lo, axis);
        Component(p, u) = static_cast<float>(middle(u) + su * half);
        Component(p, v) = static_cast<float>(middle(v) + sv * half);
        return p;
    };
    plane.setNumVerts(4);
    plane.verts = {corner(-1, -1), corner(1, -1), corner(1, 1), corner(-1, 1)};
    plane.setNumFaces(2);
    if (atMax) {
        plane.faces[0].setVerts(0, 2, 1);
        plane.faces[1].setVerts(0, 3, 2);
    } else {
        plane.faces[0].setVerts(0, 1, 2);
        plane.faces[1].setVerts(0, 2, 3);
    }
    const MeshCheck check = CheckMesh(plane);
    if (!check.ok()) throw SessionError("--ground-plane " + axisText + ": " + MeshFaultText(check));
    return plane;
}

bool AddOccluders(StandaloneHost& host, const std::vector<std::string>& files,
                  const std::optional<std::string>& groundPlane, const MeshReading& reading)
{
    for (const std::string& path : files) {
        try {
            MeshFile file = ReadMeshFile(path, reading);
            host.occluders.push_back(std::make_unique<SceneNode>(NodeName(path), std::move(file)));
        } catch (const MeshReadCancelled&) {
            return false;
        }
        if (reading.cancelled && reading.cancelled()) return false;
    }
    if (!groundPlane) return true;
    Mesh plane = host.selection.size() == 1 ? GroundPlane(host.selection[0]->CurrentMesh(), *groundPlane)
                                            : GroundPlane(Mesh(), *groundPlane);
    if (plane.faces.empty()) return true;
    MeshFile file;
    file.mesh = std::move(plane);
    file.path = "ground plane " + *groundPlane;
    host.occluders.push_back(std::make_unique<SceneNode>(file.path, std::move(file)));
    return true;
}

namespace {

// A source is read and never written: what a writer would need of its file
// is let go at once, a sculpt being the largest mesh of a run.
MeshFile ReadSource(const std::string& path, const MeshReading& reading)
{
    MeshFile file = ReadMeshFile(path, reading);
    std::vector<ObjCorners>().swap(file.objFaces);
    std::vector<Point3>().swap(file.objNormals);
    std::vector<ObjLine>().swap(file.objLines);
    return file;
}

}  // namespace

bool AddSources(StandaloneHost& host, const std::vector<std::string>& files, const std::string& cage,
                const MeshReading& reading)
{
    try {
        for (const std::string& path : files) {
            host.sources.push_back(std::make_unique<SceneNode>(NodeName(path), ReadSource(path, reading)));
            if (reading.cancelled && reading.cancelled()) return false;
        }
        if (cage.empty()) return true;
        host.cage = std::make_unique<SceneNode>(NodeName(cage), ReadSource(cage, reading));
    } catch (const MeshReadCancelled&) {
        return false;
    }
    CheckCage(host);
    return !(reading.cancelled && reading.cancelled());
}

void CheckCage(StandaloneHost& host)
{
    if (!host.cage || host.selection.size() != 1) return;
    const int want = host.selection[0]->CurrentMesh().getNumFaces();
    const int has = host.cage->CurrentMesh().getNumFaces();
    if (has != want)
        throw SessionError(host.cage->File().path + ": a cage has its mesh's faces in its order, but this one has " +
                           std::to_string(has) + " faces and " + host.selection[0]->File().path + " " +
                           std::to_string(want));
}

}  // namespace dunsmere
