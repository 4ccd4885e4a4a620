// The tree walk, shared by every instruction set: each traversal file
// includes this with its own node test and compiles it with its own flags.
// Everything here has internal linkage, so that no function compiled for
// one instruction set is ever called on a processor without it.
//
// Soundness. A face is skipped only when no float hit on it can be
// accepted. The build makes each face's box contain the exact point
// O + t*D of every t the face test can accept (geom/ray_scene.cpp says why),
// so in exact arithmetic every slab of the box holds t. A computed slab
// bound (b - O) * (1/D) carries three roundings, a relative error of at most
// 3 * 2^-24 (plus an absolute 2^-149 where it underflows), and keeps its
// sign. So for an acceptable hit at t >= 0 the computed entry is at most
// t * (1 + 3 * 2^-24) and the computed exit at least t * (1 - 3 * 2^-24).
// A child is pruned only when
//   its exit is below Floor(least), least >= 0 being the smallest t the
//   face test accepts (the ray bias): least - least * 2^-21 - 2^-126, or 0
//   itself when least is 0,
//   its entry is above Up(limit) = limit + |limit| * 2^-21 + 2^-126, or
//   its entry is above Up(exit),
// and each of those rules out every acceptable t: Up, rounded once itself,
// still grows its argument by at least 7 * 2^-24 of it, more than the
// 6 * 2^-24 that the entry and the exit may drift apart, and Floor shrinks
// least by as much, more than the 3 * 2^-24 an exit may fall below an
// acceptable t. A ray without a bias keeps the plain 0, so that its walk
// visits what it always did. The margin is kept that tight on purpose: a
// looser one would hide a box that is too small. Comparisons are written
// so that a not-a-number visits: a slab whose bound is 0 * inf (a ray
// lying in the slab's plane, parallel to it) is ignored, which widens the
// interval.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geom/detail/bvh.h"

namespace dunsmere {

namespace {

constexpr float kLimitSlack = 0x1p-21f;
constexpr float kTiny = 0x1p-126f;
// The deepest tree the build makes is below 80 levels; each level leaves at
// most seven siblings on the stack.
constexpr int kStackEntries = 1024;

// Builtins rather than <cmath>: a library inline compiled here could be
// picked by the linker for the whole program.
inline float Up(float x) { return x + __builtin_fabsf(x) * kLimitSlack + kTiny; }
inline float Floor(float least) { return least > 0.0f ? least - least * kLimitSlack - kTiny : 0.0f; }

// The ray as every node test wants it: origin, reciprocal direction, and
// for each axis which bound the ray meets first (0: lo, 1: hi), also as the
// byte offsets in a node of the bounds it meets first and last, so that the
// vector tests load them without choosing; and the direction the cone rule
// reads with the two terms of its bound, for the tests that read the cones.
struct PreparedRay {
    float o[3];
    float inv[3];
    int nearHi[3];
    unsigned nearOffset[3], farOffset[3];
    float d[3];
    float coneStep, coneSlack;
    float exitFloor;  // a child whose exit is below this is pruned
};

// Whether child c's cone faces away from the ray (bvh.h gives the rule).
inline bool ConeFacesAway(const BvhNode& node, int c, const PreparedRay& ray)
{
    const float dot = (static_cast<float>(node.axis[0][c]) * ray.d[0] + static_cast<float>(node.axis[1][c]) * ray.d[1]) +
                      static_cast<float>(node.axis[2][c]) * ray.d[2];
    return dot > static_cast<float>(node.spread[c]) * ray.coneStep + ray.coneSlack;
}

// A back query reads the cones with the direction negated: the rule then
// skips a child every face of which the ray meets from the front, by the
// same margin, and negation is exact, so that each dot product is the
// front's negated bit for bit.
template <Facing F>
inline PreparedRay Prepare(const Point3& O, const Point3& D, float least)
{
    PreparedRay r;
    r.exitFloor = Floor(least);
    const float o[3] = {O.x, O.y, O.z}, d[3] = {D.x, D.y, D.z};
    // The three reciprocals in one vector division (each lane an IEEE
    // division, as a scalar one). 1 / -0 is -inf: a zero of either sign
    // picks its side consistently.
    typedef float Lanes __attribute__((vector_size(16)));
    const Lanes inv = Lanes{1.0f, 1.0f, 1.0f, 1.0f} / Lanes{d[0], d[1], d[2], 1.0f};
    for (int a = 0; a < 3; ++a) {
        r.o[a] = o[a];
        r.inv[a] = inv[a];
        r.nearHi[a] = __builtin_signbit(d[a]) ? 1 : 0;
        const unsigned lo = static_cast<unsigned>(offsetof(BvhNode, lo)) + 32u * static_cast<unsigned>(a);
        const unsigned hi = static_cast<unsigned>(offsetof(BvhNode, hi)) + 32u * static_cast<unsigned>(a);
        r.nearOffset[a] = r.nearHi[a] ? hi : lo;
        r.farOffset[a] = r.nearHi[a] ? lo : hi;
        r.d[a] = F == Facing::kFront ? d[a] : -d[a];
    }
    // A direction so short that its squares lose bits gets no cone tests:
    // infinite terms, which no dot product exceeds (0 * inf gives a
    // not-a-number bound, which none exceeds either). Only a face whose
    // stored normal is far longer than 1 could face such a ray at all.
    const float squares = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2];
    const float length = squares >= 0x1p-100f ? __builtin_sqrtf(squares) : INFINITY;
    r.coneStep = kConeStep * length;
    r.coneSlack = kConeSlack * length;
    return r;
}

// Brings a child's node, or its leaf's first quads, towards the cache
// while the walk goes on elsewhere.
inline void Prefetch(const TreeView& tree, std::uint32_t ref)
{
    const char* p = ref & kLeafBit ? reinterpret_cast<const char*>(tree.quads + LeafFirst(ref))
                                   : reinterpret_cast<const char*>(tree.nodes + ref);
    for (int line = 0; line < 4; ++line) __builtin_prefetch(p + 64 * line);
}

struct StackEntry {
    std::uint32_t ref;
    float entry;
};

// NodeTest(node, ray, limitUp, entries) returns the mask of the children to
// visit and writes their entry distances; QuadTest(quad, maxDistance, bound,
// ts) returns the mask of the quad's lanes that accept the ray (as
// QuadLaneTest does with the same least) and writes their t.
template <Facing F, class NodeTest, class QuadTest>
inline void Walk(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                 HitState& hit, NodeTest test, QuadTest quadTest)
{
    // With no hit yet, a negative maximum rejects every t >= 0; -0 does not.
    if (!hit.found && maxDistance < 0.0f) return;
    float limit = hit.found ? hit.t : (__builtin_isnan(maxDistance) ? INFINITY : maxDistance);
    float limitUp = Up(limit);
    const PreparedRay ray = Prepare<F>(O, D, least);

    StackEntry stack[kStackEntries];
    int sp = 0;
    // The child in hand is walked at once; only its farther siblings go on
    // the stack, nearest on top.
    std::uint32_t ref = 0;
    for (;;) {
        if (ref & kLeafBit) {
            const std::uint32_t first = LeafFirst(ref), end = first + LeafCount(ref);
            for (std::uint32_t i = first; i < end; ++i) {
                const FaceQuad& q = tree.quads[i];
                float ts[4];
                unsigned lanes = quadTest(q, maxDistance, hit.found ? hit.t : INFINITY, ts);
                for (; lanes; lanes &= lanes - 1) {
                    const int j = __builtin_ctz(lanes);
                    Offer(hit, ts[j], q.index[j]);
                }
            }
            if (hit.found) {
                limit = hit.t;
                limitUp = Up(limit);
            }
        } else {
            const BvhNode& node = tree.nodes[ref];
            float entries[8];
            unsigned mask = test(node, ray, limitUp, entries);
            if (mask != 0) {
                // The siblings' nodes start on their way to the cache.
                // Hand-written swaps: a library template instantiated here
                // could be picked by the linker for the whole program.
                const int base = sp;
                int best = __builtin_ctz(mask);
                for (mask &= mask - 1; mask; mask &= mask - 1) {
                    int c = __builtin_ctz(mask);
                    if (entries[c] < entries[best]) {
                        const int nearer = c;
                        c = best;
                        best = nearer;
                    }
                    Prefetch(tree, node.child[c]);
                    int j = sp++;
                    stack[j] = {node.child[c], entries[c]};
                    for (; j > base && stack[j - 1].entry < stack[j].entry; --j) {
                        const StackEntry s = stack[j - 1];
                        stack[j - 1] = stack[j];
                        stack[j] = s;
                    }
                }
                ref = node.child[best];
                continue;
            }
        }
        // The nearest waiting child that the best hit so far has not ruled out.
        bool next = false;
        while (sp > 0) {
            const StackEntry e = stack[--sp];
            if (e.entry > limitUp) continue;
            ref = e.ref;
            next = true;
            break;
        }
        if (!next) return;
    }
}

}  // namespace

}  // namespace dunsmere
