// The ray scene's tree, as the build writes it and the traversals read it.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "geom/detail/face_quad.h"
#include "geom/detail/unset_vector.h"
#include "geom/ray_scene.h"

namespace dunsmere {

// Eight children per node, their boxes laid out by axis so that one vector
// load brings one bound of every child. lo[a][c] and hi[a][c] bound child c
// in axis a; an empty slot has lo = +inf and hi = -inf, which every box test
// rejects.
//
// Each child also has a cone around the stored normals of the faces below
// it: a direction axis[.][c] in whole numbers and spread[c], how far those
// normals may lean from it. A ray that the cone faces away from, by the
// rule below, would be refused by every one of those faces' facing tests,
// and skips the child. The default, kOpenCone, never does;
// geom/bvh_cones.cpp says how the cones are chosen and why the rule is
// sound. 256 bytes, four cache lines.
inline constexpr std::uint8_t kOpenCone = 255;
struct alignas(64) BvhNode {
    float lo[3][8];
    float hi[3][8];
    std::uint32_t child[8];
    std::int8_t axis[3][8] = {};
    std::uint8_t spread[8] = {kOpenCone, kOpenCone, kOpenCone, kOpenCone,
                              kOpenCone, kOpenCone, kOpenCone, kOpenCone};
};
static_assert(sizeof(BvhNode) == 256, "a node is six bounds, a reference and a cone for eight children");

// The cone rule. With L = |D|, child c faces away from ray direction D when
//   axis . D > (spread * kConeStep + kConeSlack) * L,
// each side computed in float. A query of the faces' back sides reads it
// with -D. kConeStep is 127 * sqrt(3) / 255 rounded
// up, so that spread 255 asks for more than any axis of whole numbers up
// to 127 can give; kConeSlack, against |axis| >= 127, covers every rounding
// of both sides many times over.
inline constexpr float kConeStep = 0.86267f;
inline constexpr float kConeSlack = 0.01f;

// Internal linkage: the traversal files, built for other instruction sets,
// must not lend their copies to the rest of the program.
// A child reference: a node index, or a leaf. As the build writes it, a
// leaf is a run of 1..16 faces of the tree-ordered face array; once packed,
// a run of 1..4 quads.
inline constexpr std::uint32_t kLeafBit = 0x80000000u;
inline constexpr std::uint32_t kEmptyChild = 0xFFFFFFFFu;
inline constexpr int kMaxLeafFaces = 16;
inline constexpr std::uint32_t kMaxTreeFaces = 1u << 27;

static constexpr std::uint32_t LeafRef(std::uint32_t first, std::uint32_t count)
{
    return kLeafBit | (first << 4) | (count - 1);
}
static constexpr std::uint32_t LeafFirst(std::uint32_t ref) { return (ref & ~kLeafBit) >> 4; }
static constexpr std::uint32_t LeafCount(std::uint32_t ref) { return (ref & 15u) + 1; }

// A face's box as the build takes it.
struct FaceBox {
    float lo[3];
    float hi[3];
};

// Where a scene's rays may start to take the tree, and M, the largest
// coordinate magnitude there: the box of every finite corner, grown by its
// diagonal on every side. Empty (lo > hi, M = 0) without corners.
struct OriginBounds {
    float lo[3] = {0, 0, 0}, hi[3] = {-1, -1, -1};
    double M = 0.0;
};
OriginBounds OriginBoundsOf(const double cornerLo[3], const double cornerHi[3]);

// The box of face `r` (with real corners c1, c2) that holds the exact point
// O + t*D of every t its face test accepts for a ray from within the origin
// bounds of magnitude M; false when no box small enough can be given, and
// the face must be tested for every ray (geom/ray_scene.cpp says why).
bool PaddedFaceBox(const FaceRecord& r, const Point3& c1, const Point3& c2, double M, FaceBox& out);

// Builds the tree over `boxes` (one per face, finite): fills `nodes` (the
// root is node 0) and `order`, the faces' indices in tree order, which leaf
// references index. At most kMaxTreeFaces boxes. The tree is the same
// whatever threads `helpers` lends; throws std::bad_alloc.
void BuildBvh(std::span<const FaceBox> boxes, std::vector<BvhNode>& nodes, std::vector<std::uint32_t>& order,
              const BuildHelpers& helpers = {});

// Repacks the leaves: each leaf of `nodes` references a run of `order`, the
// indices of `faces` in tree order, as BuildBvh leaves them; on return it
// references its faces packed four to a quad in `quads`, in the same order,
// by quad index and count. A leaf's faces share quads only with each other.
// The quads are the same whatever threads `helpers` lends.
void PackLeaves(std::vector<BvhNode>& nodes, const std::vector<std::uint32_t>& order,
                std::span<const FaceRecord> faces, UnsetVector<FaceQuad>& quads, const BuildHelpers& helpers = {});

// Sets every child's cone of `nodes` from the normals of the faces of
// `quads` below it, the same whatever threads `helpers` lends. Any cones,
// the default ones included, give the same hits: they only save work.
void SetNormalCones(std::vector<BvhNode>& nodes, std::span<const FaceQuad> quads, const BuildHelpers& helpers = {});

// What a traversal reads, and the best hit so far, which it updates.
struct TreeView {
    const BvhNode* nodes;
    const FaceQuad* quads;
};
struct HitState {
    bool found = false;
    float t = 0.0f;
    int index = -1;
};

// Offers an accepted hit to the state: nearer wins, and on equal distances
// the higher face index, as the face order of the plain loop has it. A quad
// is tested against the bound the state held before its first lane was
// taken, so a farther t is refused here too. Internal linkage, as the
// traversals need.
static inline void Offer(HitState& hit, float t, int index)
{
    if (hit.found && (t > hit.t || (!(t < hit.t) && index < hit.index))) return;
    hit.found = true;
    hit.t = t;
    hit.index = index;
}

// Walks the tree for ray (O, D): every face the walk reaches goes through
// the face test of facing F, with the least t `least`, lane by lane of its
// quad, and is offered to the state. One entry point per instruction set,
// instantiated for both facings in its own file, which is compiled with
// that set's flags: the four declarations differ only in their names.
using Traversal = void (*)(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
template <Facing F>
void TraverseScalar(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                    HitState& hit);
template <Facing F>
void TraverseSse2(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                  HitState& hit);
template <Facing F>
void TraverseAvx2(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                  HitState& hit);
template <Facing F>
void TraverseAvx512(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                    HitState& hit);

}  // namespace dunsmere
