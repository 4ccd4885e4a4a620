// A distance the panel's spinner cannot hold, baked exactly by a change of
// unit: the mesh handed to the plug-in, the distance and the noise size are
// all multiplied by one power of two, 2^k, and the bake is that of the
// unscaled mesh at the unscaled distance, bit for bit.
//
// Why a power of two is exact: multiplying a float by 2^k changes its
// exponent and nothing else, so while every value stays in the normal range
// the rounding of each operation is the same at both scales. A sum or
// difference of values scaled by 2^k is the unscaled result times 2^k; a
// product of two is the unscaled one times 2^2k; a square root of a value
// scaled by 2^2k is the unscaled root times 2^k; and a quotient of two
// lengths (a hit distance over the distance, a point over the noise size) is
// the unscaled quotient itself. The facing threshold, the caps and the
// rasterizer's UV arithmetic do not involve lengths at all. What breaks this
// is an intermediate that overflows, or that falls below the normal range
// and so rounds to fewer bits in one mesh than in the other; the extreme
// intermediates are the squared components of the face vectors, fourth
// powers of edge length. The first is refused (the mesh check's bound on
// the scaled mesh), the second is counted and warned of.
//
// User-interface thread only.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/command/options.h"
#include "app/session/panel.h"
#include "app/session/standalone_host.h"
#include "host/mesh.h"

namespace dunsmere {

// The k of the power of two nearest 1 (the smallest |k|) that brings
// DISTANCE (finite, > 0) within MIN..MAX; 0 when it lies there already.
// MAX must be at least twice MIN, so that some power always fits.
int DistanceExponent(float distance, float min, float max);

// FRACTION times the length of the diagonal of the bounding box of the
// vertices that faces use, computed in double from the float positions and
// rounded once to float; 0 for a mesh without faces.
float RelativeDistance(const Mesh& mesh, double fraction);

// D*, the farthest distance that bakes differently from a farther one: the
// smallest power of two at or above 2^25 times the diagonal of the box
// around the vertices that faces of MESHES use (the ray scene: the mesh,
// its occluders and ground plane). No hit lies farther than that diagonal,
// and from D* on `dist - t` rounds to `dist` for every hit t, so each hit
// counts in full and a value is exactly 2 x hits / rays. Infinity when D*
// is past the float range, or the box is a point.
float FarthestDistance(const std::vector<const Mesh*>& meshes);

// Multiplies every position by 2^k.
void ScalePositions(std::vector<Point3>& positions, int k);

// How many faces of MESH may bake differently from those of its positions
// before scaling, ORIGINAL, which the scaling multiplied by 2^k: faces
// where a squared component of the face vector is below the normal range
// (subnormal, or flushed to zero from a component that is not) at one scale
// and not at the other, or where the scaling rounded a corner's position.
int FacesBelowTheNormalRange(const Mesh& mesh, const std::vector<Point3>& original, int k);

// A run's mesh at the scale its distance needs, for as long as the plug-in
// works on it. Put back on destruction or by Restore: the positions are the
// node's own again, and whatever else the run wrote (vertex colours) stays.
class ScaledNode {
public:
    ScaledNode() = default;
    ScaledNode(SceneNode& node, int k);
    ~ScaledNode() { Restore(); }
    ScaledNode(ScaledNode&& other) noexcept;
    ScaledNode& operator=(ScaledNode&&) = delete;
    ScaledNode(const ScaledNode&) = delete;
    ScaledNode& operator=(const ScaledNode&) = delete;

    void Restore();
    // The node's own positions while the scaled ones stand in for them.
    const std::vector<Point3>& Original() const { return original_; }

    // Scales OTHER (an occluder) by the same power, put back with the node.
    void Add(SceneNode& other);
    // Whether every mesh scaled passes the mesh check at its new scale.
    bool MeshesPass();

private:
    SceneNode* node_ = nullptr;
    int k_ = 0;
    std::vector<Point3> original_;
    std::vector<std::pair<SceneNode*, std::vector<Point3>>> others_;
};

// Applies the options to the panel as ApplyOptions does, with the distance
// (given, relative to the one selected node's mesh, or the panel's) past
// D* baked as D*, with a note unless quiet, and brought into the spinner's
// range: when it lies outside, the distance typed is the user's times 2^k,
// the noise size typed is the panel's (or the user's) times 2^k, and the
// selected node's mesh is scaled for the run, with HOST's occluders, sources
// and cage. A --ray-distance in mesh units is typed as its fractions of the
// selected mesh's diagonal, and refused past it. HOST's
// outcome records the user's distance, the noise size and k. A relative
// distance with not exactly one node selected is left out: the plug-in
// refuses that selection itself.
//
// Throws CommandError (status 2) when the scaled mesh or an occluder would
// break the mesh check's bound, or when a noise size the run uses would leave its spinner's
// range; prints a warning with the count of faces that may bake differently.
ScaledNode ApplyWithDistance(const CommandOptions& options, StandaloneHost& host, const Panel& panel);

}  // namespace dunsmere
