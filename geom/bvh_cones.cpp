// The children's normal cones.
//
// Why the rule skips only faces that could not be hit. Let the normals N of
// a child's faces lie within angle phi of its axis A, and let a ray D pass
// the rule, so that in exact arithmetic A . D > spread * kConeStep * L
// (the slack covers both sides' roundings). The build picks spread with
// spread * kConeStep >= |A| * sin(phi + delta), so the angle between A and
// D is at most 90 degrees - phi - delta, and the one between any N and D at
// most 90 degrees - delta: N . D >= |N| L sin(delta). The facing test's
// den = (N.z D.z + N.y D.y) + N.x D.x carries three roundings, at most
// 2^-21 |N| L, far below that, so den > 0 > -0.0001 and the test refuses
// the face. delta = 2^-8 also covers the double rounding of the angles
// below. Mirrored, a back query reads the rule with -D: every N . D is
// then at most -|N| L sin(delta), and den < 0 < 0.0001 refuses the face.
//
// Faces whose normal is zero or not a number never pass the face test
// whatever the ray, and take no part in a cone. A child without one face
// that could count gets axis 0 and spread 0, which the rule never meets
// (0 > a bound of at least 0 is false): such children are rare, and cheap.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geom/detail/bvh.h"
#include "geom/parallel.h"

namespace dunsmere {

namespace {

constexpr double kDelta = 0x1p-8;
constexpr std::size_t kNodeChunk = 64;  // nodes a thread takes at a time
constexpr double kHalfTurn = 3.14159265358979323846;

// The normals below a child: an axis (unit, in double: the whole-number
// axis as stored, normalised), the widest angle phi from it, and how many
// faces it stands for. Empty without faces; open when phi reaches past
// what a cone can use.
struct Cone {
    std::int8_t whole[3] = {0, 0, 0};  // the axis as stored
    double axis[3] = {0, 0, 0};
    double phi = 0.0;
    std::uint32_t faces = 0;
    bool open = false;
};

double Length(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

double AngleBetween(const double u[3], const double v[3])
{
    const double c = (u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (Length(u) * Length(v));
    return std::acos(std::clamp(c, -1.0, 1.0));
}

// Rounds direction `sum` onto whole numbers up to 127 in magnitude; false
// when it has no direction.
bool WholeAxis(const double sum[3], std::int8_t out[3], double unit[3])
{
    const double largest = std::max({std::fabs(sum[0]), std::fabs(sum[1]), std::fabs(sum[2])});
    if (!(largest > 0.0) || !std::isfinite(largest)) return false;
    double whole[3];
    for (int a = 0; a < 3; ++a) {
        whole[a] = std::round(sum[a] / largest * 127.0);
        out[a] = static_cast<std::int8_t>(whole[a]);
    }
    const double length = Length(whole);
    for (int a = 0; a < 3; ++a) unit[a] = whole[a] / length;
    return true;
}

// Stores cone `c` in slot `slot` of `node`.
void Store(BvhNode& node, int slot, const Cone& c)
{
    for (int a = 0; a < 3; ++a) node.axis[a][slot] = 0;
    if (c.faces == 0) {
        node.spread[slot] = 0;
        return;
    }
    node.spread[slot] = kOpenCone;
    if (c.open || c.phi + kDelta >= kHalfTurn / 2) return;
    const double w[3] = {static_cast<double>(c.whole[0]), static_cast<double>(c.whole[1]),
                         static_cast<double>(c.whole[2])};
    const double need = Length(w) * std::sin(c.phi + kDelta) / static_cast<double>(kConeStep);
    if (!(need < static_cast<double>(kOpenCone) - 1.0)) return;
    for (int a = 0; a < 3; ++a) node.axis[a][slot] = c.whole[a];
    node.spread[slot] = static_cast<std::uint8_t>(std::ceil(need));
}

// The cone of a leaf's faces, measured against its own whole-number axis.
Cone LeafCone(const FaceQuad* quads, std::uint32_t count)
{
    double normals[4 * kMaxLeafFaces][3];  // unit length
    double sum[3] = {0, 0, 0};
    Cone c;
    for (std::uint32_t i = 0; i < count; ++i)
        for (int j = 0; j < 4; ++j) {
            const FaceQuad& q = quads[i];
            if (q.index[j] < 0) continue;
            double* n = normals[c.faces];
            n[0] = static_cast<double>(q.nx[j]);
            n[1] = static_cast<double>(q.ny[j]);
            n[2] = static_cast<double>(q.nz[j]);
            const double length = Length(n);
            if (!(length > 0.0) || !std::isfinite(length)) continue;
            for (int a = 0; a < 3; ++a) {
                n[a] /= length;
                sum[a] += n[a];
            }
            ++c.faces;
        }
    if (c.faces == 0) return c;
    if (!WholeAxis(sum, c.whole, c.axis)) {
        c.open = true;
        return c;
    }
    double least = 1.0;  // the cosine of the widest angle
    for (std::uint32_t k = 0; k < c.faces; ++k) {
        const double* n = normals[k];
        least = std::min(least, c.axis[0] * n[0] + c.axis[1] * n[1] + c.axis[2] * n[2]);
    }
    c.phi = std::acos(std::clamp(least, -1.0, 1.0));
    return c;
}

// The cone around cones `parts`, measured against its own whole-number axis:
// each part's normals lie within its phi of its axis.
Cone Merge(const Cone* parts, int n)
{
    Cone c;
    double sum[3] = {0, 0, 0};
    for (int k = 0; k < n; ++k) {
        if (parts[k].faces == 0) continue;
        c.faces += parts[k].faces;
        c.open = c.open || parts[k].open;
        for (int a = 0; a < 3; ++a) sum[a] += parts[k].faces * parts[k].axis[a];
    }
    if (c.faces == 0 || c.open) return c;
    if (!WholeAxis(sum, c.whole, c.axis)) {
        c.open = true;
        return c;
    }
    for (int k = 0; k < n; ++k)
        if (parts[k].faces > 0) c.phi = std::max(c.phi, AngleBetween(c.axis, parts[k].axis) + parts[k].phi);
    c.open = c.phi + kDelta >= kHalfTurn / 2;
    return c;
}

}  // namespace

void SetNormalCones(std::vector<BvhNode>& nodes, std::span<const FaceQuad> quads, const BuildHelpers& helpers)
{
    // The leaves' cones first, chunk by chunk on any thread; then the inner
    // children's, walking the nodes backwards: children come after their
    // parents, so every inner child's cone is made before it is needed.
    std::vector<Cone> leaves(nodes.size() * 8);
    const std::size_t chunks = (nodes.size() + kNodeChunk - 1) / kNodeChunk;
    ParallelFor(helpers, chunks, [&](std::size_t chunk) {
        for (std::size_t i = chunk * kNodeChunk; i < std::min(nodes.size(), (chunk + 1) * kNodeChunk); ++i)
            for (int s = 0; s < 8; ++s) {
                const std::uint32_t ref = nodes[i].child[s];
                if (ref == kEmptyChild || !(ref & kLeafBit)) continue;
                leaves[i * 8 + static_cast<std::size_t>(s)] = LeafCone(quads.data() + LeafFirst(ref), LeafCount(ref));
            }
    });
    std::vector<Cone> below(nodes.size());
    for (std::size_t i = nodes.size(); i-- > 0;) {
        BvhNode& node = nodes[i];
        Cone slots[8];
        for (int s = 0; s < 8; ++s) {
            const std::uint32_t ref = node.child[s];
            if (ref == kEmptyChild) continue;
            slots[s] = ref & kLeafBit ? leaves[i * 8 + static_cast<std::size_t>(s)] : below[ref];
            Store(node, s, slots[s]);
        }
        below[i] = Merge(slots, 8);
    }
}

}  // namespace dunsmere
