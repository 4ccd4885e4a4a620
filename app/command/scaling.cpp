#include "app/command/scaling.h"

#include <algorithm>
#include <charconv>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "app/command/command.h"
#include "host/dialog.h"
#include "host/mesh_check.h"

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

std::string RefusedScale(const std::string& file, float distance, int k)
{
    return file + ": distance " + ShortestFloatText(distance) + " needs a scale of 2^" + std::to_string(k) +
           " that the mesh or noise size cannot take";
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
    if (mesh.faces.empty()) return 0.0f;
    constexpr double kHuge = std::numeric_limits<double>::infinity();
    double lo[3] = {kHuge, kHuge, kHuge}, hi[3] = {-kHuge, -kHuge, -kHuge};
    for (const Face& face : mesh.faces)
        for (DWORD v : face.v) {
            const Point3& p = mesh.verts[v];
            const double c[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
            for (int i = 0; i < 3; ++i) {
                lo[i] = std::min(lo[i], c[i]);
                hi[i] = std::max(hi[i], c[i]);
            }
        }
    const double dx = hi[0] - lo[0], dy = hi[1] - lo[1], dz = hi[2] - lo[2];
    return static_cast<float>(fraction * std::sqrt(dx * dx + dy * dy + dz * dz));
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
    std::optional<float> distance = o.distance;
    if (o.distanceRelative) {
        if (!node) distance.reset();
        else distance = RelativeDistance(node->CurrentMesh(), *o.distanceRelative);
        if (node && !(std::isfinite(*distance) && *distance > 0.0f))
            throw CommandError(kExitUsage, node->File().path + ": --distance-relative " +
                                               ShortestText(*o.distanceRelative) + " gives no finite distance above 0");
    }
    const std::optional<Panel::Limits> range = panel.SpinnerLimits("distance");
    const int k = distance && range && node ? DistanceExponent(*distance, range->min, range->max) : 0;

    CommandOptions typed = o;
    typed.distance = distance ? std::optional<float>(std::ldexp(*distance, k)) : std::nullopt;
    if (k == 0) {
        panel.Apply(typed);
        return {};
    }
    typed.noiseSize.reset();  // typed below, at the mesh's scale
    panel.Apply(typed);

    const std::string& file = node->File().path;
    const float noiseSize = o.noiseSize.value_or(panel.ReadFloat("noise-size"));
    const float scaledNoise = std::ldexp(noiseSize, k);
    const std::optional<Panel::Limits> noiseRange = panel.SpinnerLimits("noise-size");
    const bool noiseFits = std::ldexp(scaledNoise, -k) == noiseSize &&
                           (!noiseRange || (scaledNoise >= noiseRange->min && scaledNoise <= noiseRange->max));
    // A noise size the bake does not use cannot spoil it.
    const bool noiseUsed = panel.Algorithm() == "uv-map" && panel.IsTicked("noise");
    if (noiseUsed && !noiseFits) throw CommandError(kExitUsage, RefusedScale(file, *distance, k));
    if (noiseFits) {
        CommandOptions noise;
        noise.noiseSize = scaledNoise;
        panel.Apply(noise);
    }

    ScaledNode scaled(*node, k);
    for (const auto& occluder : host.occluders) scaled.Add(*occluder);
    if (!scaled.MeshesPass()) throw CommandError(kExitUsage, RefusedScale(file, *distance, k));
    const int faces = FacesBelowTheNormalRange(node->CurrentMesh(), scaled.Original(), k);
    if (faces > 0 && !o.quiet)  // advice: -q drops it
        std::fprintf(stderr,
                     "dunsmere: warning: %s: %d %s below the normal float range at one of the scales 1 and 2^%d; "
                     "%s may differ in the last bits\n",
                     file.c_str(), faces, faces == 1 ? "face is" : "faces are", k,
                     faces == 1 ? "its value" : "their values");
    host.outcome.distanceScaled = true;
    return scaled;
}
