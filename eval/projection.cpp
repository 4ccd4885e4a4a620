#include "eval/projection.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <utility>

#include "eval/detail/same_bits.h"
#include "eval/sample.h"

namespace dunsmere {

namespace {

// The one smoothing group every face of the welded low mesh is put in.
constexpr DWORD kOneGroup = 1;

// A position's key: equal positions, and only they, have equal keys
// (-0 is taken as +0, as == takes it).
struct PositionKey {
    std::uint32_t bits[3];
    bool operator==(const PositionKey&) const = default;
};

struct PositionHash {
    std::size_t operator()(const PositionKey& k) const
    {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint32_t b : k.bits) h = (h ^ b) * 1099511628211ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }
};

PositionKey KeyOf(const Point3& p)
{
    PositionKey k{};
    const float c[3] = {p.x + 0.0f, p.y + 0.0f, p.z + 0.0f};
    std::memcpy(k.bits, c, sizeof k.bits);
    return k;
}

// LOW's faces over its vertices merged by equal position, all in one group:
// the vertex-normal build then averages, at each position, the area-weighted
// vectors of every face that meets there, whatever its smoothing or its
// seams.
Mesh Welded(const Mesh& low)
{
    Mesh welded;
    welded.verts = low.verts;
    std::vector<DWORD> first(low.verts.size());
    std::unordered_map<PositionKey, DWORD, PositionHash> seen;
    seen.reserve(low.verts.size());
    for (std::size_t v = 0; v < low.verts.size(); ++v) {
        const Point3& p = low.verts[v];
        // A position that is not a number equals nothing, itself included.
        const bool comparable = std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
        first[v] = comparable ? seen.try_emplace(KeyOf(p), static_cast<DWORD>(v)).first->second : static_cast<DWORD>(v);
    }
    welded.faces = low.faces;
    for (Face& f : welded.faces) {
        for (DWORD& v : f.v)
            if (v < first.size()) v = first[v];
        f.smGroup = kOneGroup;
    }
    return welded;
}

// (w.x * A + w.y * B) + w.z * C, as the samples place their points.
Point3 PointAt(const Mesh& mesh, const Face& f, const Point3& w)
{
    const Point3 A = mesh.verts[f.v[0]], B = mesh.verts[f.v[1]], C = mesh.verts[f.v[2]];
    return {(w.x * A.x + w.y * B.x) + w.z * C.x, (w.x * A.y + w.y * B.y) + w.z * C.y,
            (w.x * A.z + w.y * B.z) + w.z * C.z};
}

bool Finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

// The coordinate axis most nearly across D.
Point3 LeastAlignedAxis(const Point3& D)
{
    const float x = std::fabs(D.x), y = std::fabs(D.y), z = std::fabs(D.z);
    if (x <= y && x <= z) return Point3::XAxis;
    return y <= z ? Point3::YAxis : Point3::ZAxis;
}

float Reach(float fraction, double diagonal) { return static_cast<float>(static_cast<double>(fraction) * diagonal); }

}  // namespace

double FacesDiagonal(const Mesh& mesh)
{
    constexpr double kHuge = std::numeric_limits<double>::infinity();
    double lo[3] = {kHuge, kHuge, kHuge}, hi[3] = {-kHuge, -kHuge, -kHuge};
    bool any = false;
    for (const Face& f : mesh.faces)
        for (DWORD v : f.v) {
            if (v >= mesh.verts.size()) continue;
            const Point3& p = mesh.verts[v];
            const double c[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
            for (int a = 0; a < 3; ++a) {
                lo[a] = std::min(lo[a], c[a]);
                hi[a] = std::max(hi[a], c[a]);
            }
            any = true;
        }
    if (!any) return 0.0;
    double d2 = 0.0;
    for (int a = 0; a < 3; ++a) d2 += (hi[a] - lo[a]) * (hi[a] - lo[a]);
    return std::sqrt(d2);
}

void ProjectionTables::Build(const Mesh& low, const UtilitySettings& settings, std::vector<Mesh> sources,
                             std::optional<Mesh> cage, std::vector<Mesh> occluders, const BuildHelpers& helpers)
{
    const double diagonal = FacesDiagonal(low);
    const float front = Reach(settings.rayFront, diagonal), rear = Reach(settings.rayRear, diagonal);
    kept_ = Same(low, sources, cage, occluders);
    if (kept_) {
        front_ = front;
        rear_ = rear;
        return;
    }
    Clear();
    front_ = front;
    rear_ = rear;
    low_.verts = low.verts;
    low_.faces = low.faces;
    route_ = DefaultRayRoute();

    welded_ = Welded(low);
    weldedNormals_.BuildVertexNormals(welded_, helpers);
    cage_ = std::move(cage);

    sources_ = std::move(sources);
    sourceFaceNormals_.resize(sources_.size());
    std::vector<SceneInput> inputs;
    for (std::size_t i = 0; i < sources_.size(); ++i) {
        BuildFaceNormals(sources_[i], sourceFaceNormals_[i], helpers);
        sourceVertexNormals_.push_back(std::make_unique<VertexNormals>());
        sourceVertexNormals_.back()->BuildVertexNormals(sources_[i], helpers);
        inputs.push_back({&sources_[i], &sourceFaceNormals_[i]});
    }
    sourceScene_.Build(inputs, route_, helpers);

    occluders_ = std::move(occluders);
    occluderFaceNormals_.resize(occluders_.size());
    inputs.clear();
    for (std::size_t i = 0; i < occluders_.size(); ++i) {
        BuildFaceNormals(occluders_[i], occluderFaceNormals_[i], helpers);
        inputs.push_back({&occluders_[i], &occluderFaceNormals_[i]});
    }
    occluded_ = !inputs.empty();
    if (occluded_) occluderScene_.Build(inputs, route_, helpers);
}

bool ProjectionTables::Same(const Mesh& low, const std::vector<Mesh>& sources, const std::optional<Mesh>& cage,
                            const std::vector<Mesh>& occluders) const
{
    const auto same = [](const std::vector<Mesh>& a, const std::vector<Mesh>& b) {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameGeometry);
    };
    return !sources_.empty() && route_ == DefaultRayRoute() && SameGeometry(low_, low) && same(sources_, sources) &&
           same(occluders_, occluders) && cage_.has_value() == cage.has_value() &&
           (!cage || SameGeometry(*cage_, *cage));
}

void ProjectionTables::Clear()
{
    sourceScene_.Clear();
    occluderScene_.Clear();
    occluded_ = false;
    sourceVertexNormals_.clear();
    sourceFaceNormals_.clear();
    sources_.clear();
    occluderFaceNormals_.clear();
    occluders_.clear();
    weldedNormals_.Release();
    welded_ = Mesh();
    low_ = Mesh();
    cage_.reset();
    front_ = rear_ = 0.0f;
}

bool ProjectionTables::ProjectSample(const Mesh& low, int face, const Point3& weights, RayHit& hit) const
{
    const std::size_t f = static_cast<std::size_t>(face);
    const Point3 P = PointAt(low, low.faces[f], weights);
    const Point3 n = weldedNormals_.InterpolatedNormal(welded_.faces[f], weights.x, weights.y, weights.z);
    const Point3 D = Normalize(n);
    if (!Finite(D) || D == Point3{}) return false;

    Ray ray{P + front_ * D, -D};
    float reach = front_ + rear_;
    if (cage_) {
        const Point3 C = PointAt(*cage_, cage_->faces[f], weights);
        // Where the cage meets the mesh the cage-less ray stands.
        if (!(C == P)) {
            const Point3 toP = P - C;
            const float length = Length(toP);
            ray = Ray{C, Normalize(toP)};
            reach = length + rear_;
            if (!Finite(ray.dir) || !std::isfinite(reach)) return false;
        }
    }
    if (sourceScene_.NearestHit(ray, reach, Facing::kFront, hit)) return true;
    // The face test is exact for each face on its own, so a ray may slip
    // between two faces through their shared edge, and a sculpt's dense
    // edges meet the rays often enough to leave holes. Such a ray is cast
    // again beside itself, a few hundred float steps of its origin's size
    // off, in a fixed order: the first of those to hit counts. A ray with
    // no surface within its reach misses all of them.
    const float size = std::max({std::fabs(ray.p.x), std::fabs(ray.p.y), std::fabs(ray.p.z), reach});
    const float step = std::ldexp(size, -16);
    const Point3 across = Normalize(CrossProd(ray.dir, LeastAlignedAxis(ray.dir)));
    const Point3 other = CrossProd(ray.dir, across);
    for (const Point3& side : {across, -across, other, -other}) {
        const Ray beside{ray.p + step * side, ray.dir};
        if (sourceScene_.NearestHit(beside, reach, Facing::kFront, hit)) return true;
    }
    return false;
}

float ProjectionTables::EvaluateAtHit(const UtilitySettings& settings, const RayHit& hit, Ray* rayScratch,
                                      int azimuthDraw) const
{
    const std::size_t i = static_cast<std::size_t>(hit.input);
    const SampleTables tables{sourceFaceNormals_[i], *sourceVertexNormals_[i], &sourceScene_,
                              occluded_ ? &occluderScene_ : nullptr};
    return EvaluateSampleWithDraw(settings, tables, sources_[i], hit.face, hit.weights, rayScratch, azimuthDraw);
}

bool ProjectionTables::SampleAt(const UtilitySettings& settings, const Mesh& low, int face, const Point3& weights,
                                Ray* rayScratch, int azimuthDraw, ProjectionTally& tally, float& value) const
{
    RayHit hit;
    const bool found = ProjectSample(low, face, weights, hit);
    tally.Count(found);
    if (found) value = EvaluateAtHit(settings, hit, rayScratch, azimuthDraw);
    return found;
}

ProjectionReport ProjectionTables::Report(const ProjectionCounts& counts) const
{
    ProjectionReport report;
    report.samples = counts.samples.load();
    report.missed = counts.missed.load();
    report.front = front_;
    report.rear = rear_;
    return report;
}

}  // namespace dunsmere
