#include "app/mesh/smoothing.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <utility>

namespace dunsmere {

namespace {

// One face's side of an edge: the edge's ends as mesh vertices, lower
// first, and which corners of the face they are.
struct EdgeSide {
    DWORD a, b;
    std::uint32_t face;
    std::uint8_t cornerA, cornerB;
};

class Clusters {
public:
    explicit Clusters(size_t n) : parent_(n)
    {
        for (size_t i = 0; i < n; ++i) parent_[i] = static_cast<std::uint32_t>(i);
    }
    std::uint32_t Find(std::uint32_t x)
    {
        while (parent_[x] != x) x = parent_[x] = parent_[parent_[x]];
        return x;
    }
    void Join(std::uint32_t x, std::uint32_t y)
    {
        x = Find(x);
        y = Find(y);
        if (x != y) parent_[std::max(x, y)] = std::min(x, y);
    }

private:
    std::vector<std::uint32_t> parent_;
};

class EdgeRule {
public:
    EdgeRule(const Mesh& mesh, const std::vector<Point3>& cornerNormals, double angle)
        : mesh_(mesh), normals_(cornerNormals), angle_(angle)
    {
    }

    bool Smooth(const EdgeSide& x, const EdgeSide& y) const
    {
        if (!normals_.empty()) {
            const Point3 xa = Corner(x.face, x.cornerA), xb = Corner(x.face, x.cornerB);
            const Point3 ya = Corner(y.face, y.cornerA), yb = Corner(y.face, y.cornerB);
            if (Given(xa) && Given(xb) && Given(ya) && Given(yb)) return Agree(xa, ya) && Agree(xb, yb);
        }
        return AngleBetween(FaceNormal(x.face), FaceNormal(y.face)) <= angle_;
    }

private:
    static bool Given(const Point3& n) { return n.x != 0.0f || n.y != 0.0f || n.z != 0.0f; }
    static bool Agree(const Point3& p, const Point3& q)
    {
        const Point3 a = Normalize(p), b = Normalize(q);
        return std::fabs(a.x - b.x) <= kNormalTolerance && std::fabs(a.y - b.y) <= kNormalTolerance &&
               std::fabs(a.z - b.z) <= kNormalTolerance;
    }
    Point3 Corner(std::uint32_t face, int k) const { return normals_[3 * size_t{face} + static_cast<size_t>(k)]; }
    Point3 FaceNormal(std::uint32_t face) const
    {
        const Face& f = mesh_.faces[face];
        const Point3 c0 = mesh_.verts[f.v[0]], c1 = mesh_.verts[f.v[1]], c2 = mesh_.verts[f.v[2]];
        return CrossProd(c1 - c0, c2 - c1);
    }
    // In degrees; atan2 stays accurate near 0 and 180, where acos of the
    // dot product does not, and gives 0 for a zero vector.
    static double AngleBetween(const Point3& p, const Point3& q)
    {
        const double px = static_cast<double>(p.x), py = static_cast<double>(p.y), pz = static_cast<double>(p.z);
        const double qx = static_cast<double>(q.x), qy = static_cast<double>(q.y), qz = static_cast<double>(q.z);
        const double cx = py * qz - pz * qy, cy = pz * qx - px * qz, cz = px * qy - py * qx;
        const double dot = (px * qx + py * qy) + pz * qz;
        return std::atan2(std::sqrt((cx * cx + cy * cy) + cz * cz), dot) * (180.0 / std::numbers::pi);
    }

    const Mesh& mesh_;
    const std::vector<Point3>& normals_;
    double angle_;
};

std::vector<EdgeSide> SharedEdgeSides(const Mesh& mesh)
{
    std::vector<EdgeSide> sides;
    sides.reserve(mesh.faces.size() * 3);
    for (size_t f = 0; f < mesh.faces.size(); ++f) {
        const Face& face = mesh.faces[f];
        for (std::uint8_t k = 0; k < 3; ++k) {
            const std::uint8_t next = static_cast<std::uint8_t>((k + 1) % 3);
            DWORD a = face.v[k], b = face.v[next];
            if (a == b) continue;  // a collapsed edge joins nothing
            std::uint8_t ka = k, kb = next;
            if (b < a) {
                std::swap(a, b);
                std::swap(ka, kb);
            }
            sides.push_back({a, b, static_cast<std::uint32_t>(f), ka, kb});
        }
    }
    std::sort(sides.begin(), sides.end(), [](const EdgeSide& x, const EdgeSide& y) {
        return x.a != y.a ? x.a < y.a : x.b != y.b ? x.b < y.b : x.face < y.face;
    });
    return sides;
}

}  // namespace

Smoothing FindSmoothing(const Mesh& mesh, const std::vector<Point3>& cornerNormals, double angle)
{
    const size_t nf = mesh.faces.size();
    Smoothing out;
    Clusters clusters(nf);
    const EdgeRule rule(mesh, cornerNormals, angle);
    const std::vector<EdgeSide> sides = SharedEdgeSides(mesh);
    for (size_t i = 0; i < sides.size();) {
        size_t end = i + 1;
        while (end < sides.size() && sides[end].a == sides[i].a && sides[end].b == sides[i].b) ++end;
        const bool allPairs = end - i <= kPairedFaces;
        for (size_t y = i + 1; y < end; ++y)
            for (size_t x = allPairs ? i : y - 1; x < y; ++x)
                if (sides[x].face != sides[y].face && rule.Smooth(sides[x], sides[y]))
                    clusters.Join(sides[x].face, sides[y].face);
        i = end;
    }

    out.cluster.assign(nf, -1);
    std::vector<int> idOfRoot(nf, -1);
    for (size_t f = 0; f < nf; ++f) {
        int& id = idOfRoot[clusters.Find(static_cast<std::uint32_t>(f))];
        if (id < 0) id = out.clusters++;
        out.cluster[f] = id;
    }

    if (cornerNormals.empty() && angle >= kMaxSmoothAngle) {
        out.group.assign(nf, 1u);
        return out;
    }

    // Each cluster's vertices, clusters in order; a vertex's bits are those
    // of the clusters already given one that meet there.
    std::vector<std::pair<int, DWORD>> touches;
    touches.reserve(nf * 3);
    for (size_t f = 0; f < nf; ++f)
        for (DWORD v : mesh.faces[f].v) touches.emplace_back(out.cluster[f], v);
    std::sort(touches.begin(), touches.end());
    touches.erase(std::unique(touches.begin(), touches.end()), touches.end());
    std::vector<DWORD> taken(mesh.verts.size(), 0);
    std::vector<DWORD> bitOf(static_cast<size_t>(out.clusters), 0);
    for (size_t i = 0; i < touches.size();) {
        const int c = touches[i].first;
        size_t end = i;
        DWORD used = 0;
        for (; end < touches.size() && touches[end].first == c; ++end) used |= taken[touches[end].second];
        const DWORD free = ~used;
        const DWORD bit = free & (~free + 1u);  // the lowest free bit; 0 when none is
        bitOf[static_cast<size_t>(c)] = bit;
        for (; i < end; ++i) taken[touches[i].second] |= bit;
    }
    out.group.resize(nf);
    for (size_t f = 0; f < nf; ++f) {
        out.group[f] = bitOf[static_cast<size_t>(out.cluster[f])];
        if (out.group[f] == 0) ++out.ungroupedFaces;
    }
    return out;
}

void SmoothMeshFile(MeshFile& file, const std::string& path, const std::vector<Point3>& cornerNormals,
                    double angle)
{
    const Smoothing smoothing = FindSmoothing(file.mesh, cornerNormals, angle);
    for (size_t f = 0; f < file.mesh.faces.size(); ++f) file.mesh.faces[f].smGroup = smoothing.group[f];
    const int n = smoothing.ungroupedFaces;
    if (n > 0)
        file.warnings.push_back(path + ": " + std::to_string(n) +
                                (n == 1 ? " face got no smoothing group: its cluster found no free bit"
                                        : " faces got no smoothing group: their clusters found no free bit"));
}

}  // namespace dunsmere
