#include "app/command/scaling.h"

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/command/command.h"
#include "app/command/panel_options.h"
#include "host/dialog.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

namespace {

// The face vector as the normals make it.
Point3 FaceVector(const std::vector<Point3>& verts, const Face& face)
{
    const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
    return CrossProd(c1 - c0, c2 - c1);
}

// A square that lost bits to the bottom of the range: subnormal, or zero
// although its root is not.
bool BelowNormal(float component)
{
    const float square = component * component;
    return component != 0.0f && square < FLT_MIN;
}

// One bit per squared component that is below the normal range.
unsigned BelowNormalBits(const Point3& n)
{
    return (BelowNormal(n.x) ? 1u : 0u) | (BelowNormal(n.y) ? 2u : 0u) | (BelowNormal(n.z) ? 4u : 0u);
}

bool Rounded(const Point3& original, const Point3& scaled, int k)
{
    return std::ldexp(scaled.x, -k) != original.x || std::ldexp(scaled.y, -k) != original.y ||
           std::ldexp(scaled.z, -k) != original.z;
}

std::string ShortestText(double value)
{
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

// The length of the diagonal of the box around the vertices that faces use,
// computed in double from the float positions; 0 without faces.
double Diagonal(const std::vector<const Mesh*>& meshes)
{
    constexpr double kHuge = std::numeric_limits<double>::infinity();
    double lo[3] = {kHuge, kHuge, kHuge}, hi[3] = {-kHuge, -kHuge, -kHuge};
    for (const Mesh* mesh : meshes)
        for (const Face& face : mesh->faces)
            for (DWORD v : face.v) {
                const Point3& p = mesh->verts[v];
                const double c[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
                for (int i = 0; i < 3; ++i) {
                    lo[i] = std::min(lo[i], c[i]);
                    hi[i] = std::max(hi[i], c[i]);
                }
            }
    if (lo[0] > hi[0]) return 0.0;
    const double dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

std::string RefusedScale(const std::string& file, float distance, int k)
{
    return file + ": distance " + ShortestFloatText(distance) + " needs a scale of 2^" + std::to_string(k) +
           " that the mesh or noise size cannot take";
}

// DISTANCE, or D* of NODE's scene when it lies past that, with a note.
float WithinFarthest(const CommandOptions& o, const StandaloneHost& host, SceneNode& node, float distance)
{
    std::vector<const Mesh*> scene{&node.CurrentMesh()};
    for (const auto& occluder : host.occluders) scene.push_back(&occluder->CurrentMesh());
    for (const auto& source : host.sources) scene.push_back(&source->CurrentMesh());
    const float farthest = FarthestDistance(scene);
    if (!(distance > farthest)) return distance;
    if (!o.quiet)
        std::fprintf(stderr,
                     "dunsmere: note: %s: distance %s bakes as %s, where every hit already counts in full: a farther "
                     "distance bakes the same\n",
                     node.File().path.c_str(), ShortestFloatText(distance).c_str(),
                     ShortestFloatText(farthest).c_str());
    return farthest;
}

// The projection's reach REACH, in the units of MESH (read from FILE), as
// the fractions of its diagonal the panel takes, into TYPED.
void RelativeReach(const Mesh& mesh, const std::string& file, const std::pair<double, double>& reach,
                   CommandOptions& typed)
{
    const double diagonal = Diagonal({&mesh});
    const double front = reach.first / diagonal, rear = reach.second / diagonal;
    if (!(diagonal > 0.0) || !(front <= 1.0 && rear <= 1.0))
        throw CommandError(kExitUsage, file + ": --ray-distance " + ShortestText(reach.first) + ":" +
                                           ShortestText(reach.second) + " reaches past the mesh's diagonal, " +
                                           ShortestText(diagonal));
    typed.rayFront = static_cast<float>(front);
    typed.rayRear = static_cast<float>(rear);
}

}  // namespace

int DistanceExponent(float distance, float min, float max)
{
    int k = 0;
    while (std::ldexp(distance, k) < min) ++k;
    while (std::ldexp(distance, k) > max) --k;
    return k;
}

float RelativeDistance(const Mesh& mesh, double fraction)
{
    return static_cast<float>(fraction * Diagonal({&mesh}));
}

float FarthestDistance(const std::vector<const Mesh*>& meshes)
{
    constexpr float kNone = std::numeric_limits<float>::infinity();
    const double diagonal = Diagonal(meshes);
    if (!(diagonal > 0.0)) return kNone;
    int e = 0;
    // 2^25 times the diagonal is m * 2^e with m in [0.5, 1): 2^e is the
    // power above it, unless it is the power 2^(e - 1) itself.
    const double m = std::frexp(std::ldexp(diagonal, 25), &e);
    const double farthest = std::ldexp(1.0, m == 0.5 ? e - 1 : e);
    return farthest <= static_cast<double>(FLT_MAX) ? static_cast<float>(farthest) : kNone;
}

void ScalePositions(std::vector<Point3>& positions, int k)
{
    for (Point3& p : positions) p = {std::ldexp(p.x, k), std::ldexp(p.y, k), std::ldexp(p.z, k)};
}

int FacesBelowTheNormalRange(const Mesh& mesh, const std::vector<Point3>& original, int k)
{
    int count = 0;
    for (const Face& face : mesh.faces) {
        bool differs = BelowNormalBits(FaceVector(original, face)) != BelowNormalBits(FaceVector(mesh.verts, face));
        for (DWORD v : face.v) differs = differs || Rounded(original[v], mesh.verts[v], k);
        if (differs) ++count;
    }
    return count;
}

ScaledNode::ScaledNode(SceneNode& node, int k) : node_(&node), k_(k), original_(node.CurrentMesh().verts)
{
    ScalePositions(node.CurrentMesh().verts, k);
}

ScaledNode::ScaledNode(ScaledNode&& other) noexcept
    : node_(other.node_), k_(other.k_), original_(std::move(other.original_)), others_(std::move(other.others_))
{
    other.node_ = nullptr;
    other.others_.clear();
}

void ScaledNode::Add(SceneNode& other)
{
    if (!node_) return;
    others_.emplace_back(&other, other.CurrentMesh().verts);
    ScalePositions(other.CurrentMesh().verts, k_);
}

bool ScaledNode::MeshesPass()
{
    if (node_ && !CheckMesh(node_->CurrentMesh()).ok()) return false;
    for (auto& [other, positions] : others_)
        if (!CheckMesh(other->CurrentMesh()).ok()) return false;
    return true;
}

void ScaledNode::Restore()
{
    if (!node_) return;
    // The plug-in writes colours, never positions: the count is unchanged.
    node_->CurrentMesh().verts = std::move(original_);
    for (auto& [other, positions] : others_) other->CurrentMesh().verts = std::move(positions);
    others_.clear();
    node_ = nullptr;
}

ScaledNode ApplyWithDistance(const CommandOptions& o, StandaloneHost& host, const Panel& panel)
{
    SceneNode* node = host.selection.size() == 1 ? host.selection[0] : nullptr;
    // The user's distance, when given or relative to the one selected mesh.
    bool given = o.distance.has_value();
    float user = o.distance ? *o.distance : 0.0f;
    if (o.distanceRelative) {
        given = node != nullptr;
        user = node ? RelativeDistance(node->CurrentMesh(), *o.distanceRelative) : 0.0f;
        if (node && !(std::isfinite(user) && user > 0.0f))
            throw CommandError(kExitUsage, node->File().path + ": --distance-relative " +
                                               ShortestText(*o.distanceRelative) + " gives no finite distance above 0");
    }
    CommandOptions typed = o;
    typed.distance.reset();   // typed below, at the mesh's scale
    typed.noiseSize.reset();  // likewise
    if (o.rayDistance && node) RelativeReach(node->CurrentMesh(), node->File().path, *o.rayDistance, typed);
    ApplyOptions(panel, typed);
    const float own = given ? user : panel.ReadFloat("distance");
    const float noiseSize = o.noiseSize.value_or(panel.ReadFloat("noise-size"));
    host.outcome.distance = own;
    host.outcome.noiseSize = noiseSize;

    const float baked = node ? WithinFarthest(o, host, *node, own) : own;
    const std::optional<Panel::Limits> range = panel.SpinnerLimits("distance");
    const bool scalable = node && range && std::isfinite(baked) && baked > 0.0f;
    const int k = scalable ? DistanceExponent(baked, range->min, range->max) : 0;
    host.outcome.distanceExponent = k;
    // The panel's own distance is typed again only when it changes.
    if (given || std::ldexp(baked, k) != own) {
        CommandOptions typedDistance;
        typedDistance.distance = std::ldexp(baked, k);
        ApplyOptions(panel, typedDistance);
    }
    if (k == 0) {
        if (o.noiseSize) {
            CommandOptions noise;
            noise.noiseSize = o.noiseSize;
            ApplyOptions(panel, noise);
        }
        return {};
    }

    const std::string& file = node->File().path;
    const float scaledNoise = std::ldexp(noiseSize, k);
    const std::optional<Panel::Limits> noiseRange = panel.SpinnerLimits("noise-size");
    const bool noiseFits = std::ldexp(scaledNoise, -k) == noiseSize &&
                           (!noiseRange || (scaledNoise >= noiseRange->min && scaledNoise <= noiseRange->max));
    // A noise size the bake does not use cannot spoil it.
    const bool noiseUsed = panel.Algorithm() == BakeAlgorithm::kUVMap && panel.IsTicked("noise");
    if (noiseUsed && !noiseFits) throw CommandError(kExitUsage, RefusedScale(file, own, k));
    if (noiseFits) {
        CommandOptions noise;
        noise.noiseSize = scaledNoise;
        ApplyOptions(panel, noise);
    }

    ScaledNode scaled(*node, k);
    for (const auto& occluder : host.occluders) scaled.Add(*occluder);
    for (const auto& source : host.sources) scaled.Add(*source);
    if (host.cage) scaled.Add(*host.cage);
    if (!scaled.MeshesPass()) throw CommandError(kExitUsage, RefusedScale(file, own, k));
    const int faces = FacesBelowTheNormalRange(node->CurrentMesh(), scaled.Original(), k);
    if (faces > 0 && !o.quiet)  // advice: -q drops it
        std::fprintf(stderr,
                     "dunsmere: warning: %s: %d %s below the normal float range at one of the scales 1 and 2^%d; "
                     "%s may differ in the last bits\n",
                     file.c_str(), faces, faces == 1 ? "face is" : "faces are", k,
                     faces == 1 ? "its value" : "their values");
    return scaled;
}

}  // namespace dunsmere
