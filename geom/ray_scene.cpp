#include "geom/ray_scene.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <span>
#include <vector>

#include "geom/detail/bvh.h"
#include "geom/detail/nearest_face.h"
#include "geom/parallel.h"
#include "geom/intersect.h"
#include "host/cpu.h"

namespace dunsmere {

// How large a face's box must be.
//
// The face test accepts a float t, then checks the hit point
// P = fl(t*D + O) in the two axes a, b other than the face's projection
// axis k. The box must hold the exact point X = O + t*D, in every axis.
// Let eps = 2^-24, M the largest coordinate magnitude of the scene's box
// grown by its diagonal (every corner and every accepted ray origin lies
// within it), and L the longest edge of the face's projected triangle.
//
// Along k. t = fl(fl(N.c0 - N.O) / den), with both dot products, their
// difference and den carrying at most three roundings each. Since
// |t*D| <= |P| + |O| <= 2M (coordinate-wise), the plane residual
// N.X - N.c0 is at most 16*sqrt(3)*eps*M < 28*eps*M whatever den is (3 + 3
// for the two dot products, 2 for their difference, 6 for den's rounding
// times t, 2 for the division, each times sqrt(3)*eps*M), so X lies within
// 28*eps*M / |N.k| of the plane of the stored normal N through c0, measured
// along k.
//
// In a and b. P differs from X by at most eps*(|t*D| + |P|) <= 3*eps*M. The
// inside test computes d = fl(P - c0) and the weights from d and the float
// edges E1, E2 (the triangle c0, c0 + E1, c0 + E2, within eps*L of the
// corners). Each weight's numerator carries three roundings on products
// bounded by |d| * L, so an accepted P lies at most 6*eps*|d| beyond the
// lines through c0, and w0 = (1 - w1) - w2 lets it lie at most
// h0 * (5*eps + 12*eps*|d|*L / |n_k|) beyond the third edge, h0 being the
// height over it; h0 * L / |n_k| <= L / h_min, the ratio rho of the longest
// edge to the smallest height. With |d| <= L + r, the distance r an accepted
// P may lie outside the triangle satisfies r <= (beta + 9*eps) * L / (1 - beta)
// with beta = eps * (8 + 16*rho); the build uses r = 2 * L * (beta + 9*eps),
// valid for beta <= 1/4 (any face beyond that is tested for every ray).
//
// So the box bounds the corners and the corners lifted along k onto the
// plane of N through c0, grown in a and b by r + 32*eps*M, and in k by
// s * (r + 32*eps*M) + 32*eps*M / |N.k| + 32*eps*M, where s = (|N.a| + |N.b|)
// / |N.k| is the plane's slope. The traversal's own rounding margins are
// in geom/detail/bvh_traverse.h.

namespace {

constexpr double kEps = 0x1p-24;
// A face whose padding exceeds its box by more than this many diagonals is
// tested for every ray instead.
constexpr double kMaxPadRatio = 1024.0;

// Faces per share of the build's per-face steps.
constexpr std::size_t kFaceChunk = 8192;

struct Box3 {
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL};
    double hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    void Add(const double p[3])
    {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], p[a]);
            hi[a] = std::max(hi[a], p[a]);
        }
    }
    double Diagonal() const
    {
        double s = 0.0;
        for (int a = 0; a < 3; ++a) s += (hi[a] - lo[a]) * (hi[a] - lo[a]);
        return std::sqrt(s);
    }
};

double Wide(float x) { return static_cast<double>(x); }
double Axis(const Point3& p, int a) { return Wide(a == 0 ? p.x : (a == 1 ? p.y : p.z)); }

bool Finite(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

float Down(double x)
{
    float f = static_cast<float>(x);
    if (static_cast<double>(f) > x) f = std::nextafter(f, -INFINITY);
    return f;
}
float Upward(double x)
{
    float f = static_cast<float>(x);
    if (static_cast<double>(f) < x) f = std::nextafter(f, INFINITY);
    return f;
}

}  // namespace

OriginBounds OriginBoundsOf(const double cornerLo[3], const double cornerHi[3])
{
    OriginBounds o;
    if (!(cornerLo[0] <= cornerHi[0] && cornerLo[1] <= cornerHi[1] && cornerLo[2] <= cornerHi[2])) return o;
    double diagonal = 0.0;
    for (int a = 0; a < 3; ++a) diagonal += (cornerHi[a] - cornerLo[a]) * (cornerHi[a] - cornerLo[a]);
    diagonal = std::sqrt(diagonal);
    for (int a = 0; a < 3; ++a) {
        o.lo[a] = Down(cornerLo[a] - diagonal);
        o.hi[a] = Upward(cornerHi[a] + diagonal);
        o.M = std::max({o.M, std::fabs(static_cast<double>(o.lo[a])), std::fabs(static_cast<double>(o.hi[a]))});
    }
    return o;
}

bool PaddedFaceBox(const FaceRecord& r, const Point3& c1, const Point3& c2, double M, FaceBox& out)
{
    const int k = r.k, a = r.a, b = r.b;
    const double n[3] = {Wide(r.N.x), Wide(r.N.y), Wide(r.N.z)};
    const double nk = n[k];
    if (!(std::fabs(nk) > 0.0)) return false;
    const double c0[3] = {Wide(r.c0.x), Wide(r.c0.y), Wide(r.c0.z)};
    // The corners of the triangle the inside test uses, and the real ones.
    double corners[5][3];
    for (int i = 0; i < 3; ++i) corners[0][i] = c0[i];
    corners[1][a] = c0[a] + static_cast<double>(r.e1a);
    corners[1][b] = c0[b] + static_cast<double>(r.e1b);
    corners[2][a] = c0[a] + static_cast<double>(r.e2a);
    corners[2][b] = c0[b] + static_cast<double>(r.e2b);
    corners[1][k] = Axis(c1, k);
    corners[2][k] = Axis(c2, k);
    for (int i = 0; i < 3; ++i) {
        corners[3][i] = Axis(c1, i);
        corners[4][i] = Axis(c2, i);
    }
    const double nDotC0 = n[0] * c0[0] + n[1] * c0[1] + n[2] * c0[2];
    Box3 box;
    for (const double* c : corners) {
        box.Add(c);
        double lifted[3] = {c[0], c[1], c[2]};
        lifted[k] = (nDotC0 - n[a] * c[a] - n[b] * c[b]) / nk;
        box.Add(lifted);
    }

    // The projected triangle's longest edge and smallest height.
    const double e1[2] = {Wide(r.e1a), Wide(r.e1b)}, e2[2] = {Wide(r.e2a), Wide(r.e2b)};
    const double e3[2] = {e2[0] - e1[0], e2[1] - e1[1]};
    const double L = std::sqrt(std::max({e1[0] * e1[0] + e1[1] * e1[1], e2[0] * e2[0] + e2[1] * e2[1],
                                         e3[0] * e3[0] + e3[1] * e3[1]}));
    const double area2 = std::fabs(e1[0] * e2[1] - e1[1] * e2[0]);
    if (!(area2 > 0.0) || !std::isfinite(L)) return false;
    const double rho = L * L / area2;
    const double beta = kEps * (8.0 + 16.0 * rho);
    if (!(beta <= 0.25)) return false;
    const double rPad = 2.0 * L * (beta + 9.0 * kEps);
    const double absPad = 32.0 * kEps * M;
    const double slope = (std::fabs(n[a]) + std::fabs(n[b])) / std::fabs(nk);
    double pad[3];
    pad[a] = pad[b] = rPad + absPad;
    pad[k] = slope * (rPad + absPad) + absPad / std::fabs(nk) + absPad;

    const double diagonal = box.Diagonal();
    for (int i = 0; i < 3; ++i) {
        if (!std::isfinite(pad[i]) || pad[i] > kMaxPadRatio * diagonal) return false;
        out.lo[i] = Down(box.lo[i] - pad[i]);
        out.hi[i] = Upward(box.hi[i] + pad[i]);
        if (!std::isfinite(out.lo[i]) || !std::isfinite(out.hi[i])) return false;
    }
    return true;
}

namespace {

bool ParseRoute(const char* name, RayRoute& route)
{
    static constexpr struct {
        const char* name;
        RayRoute route;
    } kNames[] = {{"plain", RayRoute::kPlain},
                  {"scalar", RayRoute::kScalar},
                  {"sse2", RayRoute::kSse2},
                  {"avx2", RayRoute::kAvx2},
                  {"avx512", RayRoute::kAvx512}};
    for (const auto& n : kNames)
        if (std::strcmp(name, n.name) == 0) {
            route = n.route;
            return true;
        }
    return false;
}

RayRoute BestRoute()
{
#if defined(DUNSMERE_HAVE_X86_TRAVERSAL)
    switch (ProcessorSimdLevel()) {
    case SimdLevel::kAvx512: return RayRoute::kAvx512;
    case SimdLevel::kAvx2: return RayRoute::kAvx2;
    default: return RayRoute::kSse2;
    }
#else
    return RayRoute::kScalar;
#endif
}

// The input of scene face index g: the last input starting at or before
// it, which is never an empty one.
std::size_t InputOf(const std::vector<int>& firstFace, int g)
{
    return static_cast<std::size_t>(std::upper_bound(firstFace.begin(), firstFace.end(), g) - firstFace.begin()) - 1;
}

// Every face in turn, nearest hit kept, ties to the higher index.
template <Facing F>
void TestEach(std::span<const FaceRecord> faces, const Point3& O, const Point3& D, float least, float maxDistance,
              HitState& hit)
{
    for (const FaceRecord& f : faces) {
        float t;
        if (FaceTest<F>(f, O, D, maxDistance, hit.found ? hit.t : INFINITY, t, least)) Offer(hit, t, f.index);
    }
}

// The same over the tree's quads, lane by lane.
template <Facing F>
void TestEach(std::span<const FaceQuad> quads, const Point3& O, const Point3& D, float least, float maxDistance,
              HitState& hit)
{
    const float o[3] = {O.x, O.y, O.z}, d[3] = {D.x, D.y, D.z};
    for (const FaceQuad& q : quads)
        for (int j = 0; j < 4; ++j) {
            float t;
            if (QuadLaneTest<F>(q, j, o, d, maxDistance, hit.found ? hit.t : INFINITY, t, least))
                Offer(hit, t, q.index[j]);
        }
}

}  // namespace

bool RouteSupported(RayRoute route)
{
    switch (route) {
    case RayRoute::kPlain:
    case RayRoute::kScalar: return true;
#if defined(DUNSMERE_HAVE_X86_TRAVERSAL)
    case RayRoute::kSse2: return true;
    case RayRoute::kAvx2: return ProcessorSimdLevel() >= SimdLevel::kAvx2;
    case RayRoute::kAvx512: return ProcessorSimdLevel() >= SimdLevel::kAvx512;
#endif
    default: return false;
    }
}

RayRoute DefaultRayRoute()
{
    RayRoute forced;
    if (const char* name = RayRouteOverride(); name && ParseRoute(name, forced) && RouteSupported(forced))
        return forced;
    return BestRoute();
}

const char* RouteName(RayRoute route)
{
    switch (route) {
    case RayRoute::kPlain: return "plain";
    case RayRoute::kScalar: return "scalar";
    case RayRoute::kSse2: return "sse2";
    case RayRoute::kAvx2: return "avx2";
    case RayRoute::kAvx512: return "avx512";
    }
    return "?";
}

struct RayScene::Data {
    RayRoute route = RayRoute::kPlain;
    UnsetVector<FaceRecord> faces;   // the plain route's, in face order
    std::vector<FaceRecord> always;  // tested for every ray
    std::vector<BvhNode> nodes;
    UnsetVector<FaceQuad> quads;     // the tree's faces, leaf by leaf
    int treeFaces = 0;
    // Rays from outside this box (the scene's grown by its diagonal) take
    // the plain loop: the padding is only sound for origins within it.
    float originLo[3] = {0, 0, 0}, originHi[3] = {-1, -1, -1};
    Traversal traverse[2] = {nullptr, nullptr};  // by Facing
};

RayScene::RayScene() = default;
RayScene::~RayScene() = default;

void RayScene::Clear()
{
    data_.reset();
    inputs_.clear();
    inputs_.shrink_to_fit();
    firstFace_.clear();
    firstFace_.shrink_to_fit();
}

RayRoute RayScene::Route() const { return data_ ? data_->route : RayRoute::kPlain; }

SceneStats RayScene::Stats() const
{
    SceneStats s;
    if (!data_) return s;
    const Data& d = *data_;
    s.treeFaces = d.treeFaces;
    s.alwaysFaces = static_cast<int>(d.always.size() + d.faces.size());
    s.faces = s.treeFaces + s.alwaysFaces;
    s.nodes = static_cast<int>(d.nodes.size());
    s.bytes = sizeof(Data) + firstFace_.capacity() * sizeof(int) + d.faces.capacity() * sizeof(FaceRecord) +
              d.always.capacity() * sizeof(FaceRecord) + d.nodes.capacity() * sizeof(BvhNode) +
              d.quads.capacity() * sizeof(FaceQuad);
    return s;
}

void RayScene::Build(std::span<const SceneInput> inputs, RayRoute route, const BuildHelpers& helpers)
{
    Clear();
    inputs_.assign(inputs.begin(), inputs.end());
    int base = 0;
    for (const SceneInput& in : inputs) {
        firstFace_.push_back(base);
        base += in.mesh->getNumFaces();
    }
    for (const SceneInput& in : inputs)
        if (in.faceNormals->Count() != in.mesh->getNumFaces()) return;  // IntersectRay reports it
    try {
        data_ = MakeData(inputs, firstFace_, RouteSupported(route) ? route : BestRoute(), helpers);
    } catch (const std::bad_alloc&) {
        data_.reset();  // slower, never wrong
    }
}

std::unique_ptr<RayScene::Data> RayScene::MakeData(std::span<const SceneInput> inputs,
                                                   const std::vector<int>& firstFace, RayRoute route,
                                                   const BuildHelpers& helpers)
{
    auto d = std::make_unique<Data>();
    d->route = route;
    // The per-face steps run in chunks over the lent threads, each face's
    // result in its own slot; what is kept is then gathered in face order.
    auto chunked = [&helpers](std::size_t n, const std::function<void(std::size_t, std::size_t)>& work) {
        const std::size_t chunks = (n + kFaceChunk - 1) / kFaceChunk;
        ParallelFor(helpers, chunks, [&](std::size_t c) { work(c * kFaceChunk, std::min(n, (c + 1) * kFaceChunk)); });
    };

    // Every face that can be hit, in input order.
    std::size_t total = 0;
    for (const SceneInput& in : inputs) total += static_cast<std::size_t>(in.mesh->getNumFaces());
    UnsetVector<FaceRecord> records(total);
    // The input and face of index g.
    auto locate = [&firstFace](std::size_t g, std::size_t& which, int& f) {
        which = InputOf(firstFace, static_cast<int>(g));
        f = static_cast<int>(g) - firstFace[which];
    };
    chunked(total, [&](std::size_t begin, std::size_t end) {
        for (std::size_t g = begin; g < end; ++g) {
            std::size_t which;
            int f;
            locate(g, which, f);
            records[g] = MakeFaceRecord(*inputs[which].mesh, f, (*inputs[which].faceNormals)[f]);
            records[g].index = static_cast<int>(g);
        }
    });
    records.erase(std::remove_if(records.begin(), records.end(), [](const FaceRecord& r) { return NeverHit(r); }),
                  records.end());
    if (d->route == RayRoute::kPlain) {
        d->faces = std::move(records);
        d->faces.shrink_to_fit();
        return d;
    }

    // The scene's box over finite faces, and the origin box that bounds M.
    auto corners = [&](const FaceRecord& r, Point3 (&c)[3]) {
        std::size_t which;
        int f;
        locate(static_cast<std::size_t>(r.index), which, f);
        const Mesh& m = *inputs[which].mesh;
        for (int i = 0; i < 3; ++i) c[i] = m.verts[m.faces[static_cast<std::size_t>(f)].v[i]];
    };
    std::vector<char> finite(records.size());
    std::vector<Box3> chunkBoxes((records.size() + kFaceChunk - 1) / kFaceChunk);
    chunked(records.size(), [&](std::size_t begin, std::size_t end) {
        Box3& box = chunkBoxes[begin / kFaceChunk];
        for (std::size_t i = begin; i < end; ++i) {
            Point3 c[3];
            corners(records[i], c);
            finite[i] = Finite(c[0]) && Finite(c[1]) && Finite(c[2]);
            if (!finite[i]) continue;
            for (const Point3& p : c) {
                const double q[3] = {Wide(p.x), Wide(p.y), Wide(p.z)};
                box.Add(q);
            }
        }
    });
    // Smallest and largest values, so the order of the chunks cannot matter.
    Box3 scene;
    for (const Box3& box : chunkBoxes)
        if (box.lo[0] <= box.hi[0]) {
            scene.Add(box.lo);
            scene.Add(box.hi);
        }
    const OriginBounds bounds = OriginBoundsOf(scene.lo, scene.hi);
    const double M = bounds.M;
    for (int a = 0; a < 3; ++a) {
        d->originLo[a] = bounds.lo[a];
        d->originHi[a] = bounds.hi[a];
    }

    UnsetVector<FaceBox> padded(records.size());
    chunked(records.size(), [&](std::size_t begin, std::size_t end) {
        // From here on, finite[i] says whether face i has a padded box.
        for (std::size_t i = begin; i < end; ++i) {
            if (!finite[i] || !std::isfinite(M)) {
                finite[i] = 0;
                continue;
            }
            Point3 c[3];
            corners(records[i], c);
            finite[i] = PaddedFaceBox(records[i], c[1], c[2], M, padded[i]);
        }
    });
    UnsetVector<FaceBox> boxes;
    UnsetVector<FaceRecord> tree;
    if (records.size() <= kMaxTreeFaces && std::all_of(finite.begin(), finite.end(), [](char f) { return f != 0; })) {
        // The usual mesh: every face goes into the tree, in order, as it is.
        boxes = std::move(padded);
        tree = std::move(records);
    } else {
        boxes.reserve(records.size());
        tree.reserve(records.size());
        for (std::size_t i = 0; i < records.size(); ++i) {
            if (finite[i] && tree.size() < kMaxTreeFaces) {
                boxes.push_back(padded[i]);
                tree.push_back(records[i]);
            } else {
                d->always.push_back(records[i]);
            }
        }
    }
    padded.clear();
    padded.shrink_to_fit();
    records.clear();
    records.shrink_to_fit();
    if (!tree.empty()) {
        std::vector<std::uint32_t> order;
        BuildBvh(boxes, d->nodes, order, helpers);
        d->nodes.shrink_to_fit();
        PackLeaves(d->nodes, order, tree, d->quads, helpers);
        SetNormalCones(d->nodes, d->quads, helpers);
        d->treeFaces = static_cast<int>(tree.size());
    }
    d->always.shrink_to_fit();
    auto pick = [&d](Traversal front, Traversal back) {
        d->traverse[static_cast<int>(Facing::kFront)] = front;
        d->traverse[static_cast<int>(Facing::kBack)] = back;
    };
    switch (d->route) {
#if defined(DUNSMERE_HAVE_X86_TRAVERSAL)
    case RayRoute::kSse2: pick(&TraverseSse2<Facing::kFront>, &TraverseSse2<Facing::kBack>); break;
    case RayRoute::kAvx2: pick(&TraverseAvx2<Facing::kFront>, &TraverseAvx2<Facing::kBack>); break;
    case RayRoute::kAvx512: pick(&TraverseAvx512<Facing::kFront>, &TraverseAvx512<Facing::kBack>); break;
#endif
    default: pick(&TraverseScalar<Facing::kFront>, &TraverseScalar<Facing::kBack>); break;
    }
    return d;
}

namespace {

// The nearest hit of facing F, its face by scene index (firstFace gives
// where each input's faces start). Forced inline, so that Intersect is the
// one function it was before NearestHit shared its body.
template <Facing F>
[[gnu::always_inline]] inline HitState Nearest(const RayScene::Data* data, std::span<const SceneInput> inputs,
                                               const std::vector<int>& firstFace, const Ray& ray, float least,
                                               float maxDistance)
{
    HitState hit;
    if (!data) {
        // Input by input through the reference itself; a later input's equal
        // distance wins, as a later face's does.
        for (std::size_t k = 0; k < inputs.size(); ++k) {
            float t = 0.0f;
            int face = -1;
            if (NearestFace(*inputs[k].mesh, ray, F, t, face, maxDistance, *inputs[k].faceNormals, least))
                Offer(hit, t, firstFace[k] + face);
        }
        return hit;
    }
    const RayScene::Data& d = *data;
    const Point3& O = ray.p;
    const Point3& D = ray.dir;
    bool tree = d.traverse[static_cast<int>(F)] && !d.nodes.empty();
    const float o[3] = {O.x, O.y, O.z}, dir[3] = {D.x, D.y, D.z};
    for (int a = 0; a < 3; ++a) {
        // The padding bounds finite origins within the grown box only. A
        // direction component must be finite, and one whose reciprocal
        // overflows would make the box tests lose the ray: below 2^-126
        // in magnitude, short of zero, it might (either route gives the
        // same answer, so erring towards the plain loop costs only time).
        const float m = std::fabs(dir[a]);
        tree = tree && std::fabs(o[a]) <= std::numeric_limits<float>::max() && o[a] >= d.originLo[a] &&
               o[a] <= d.originHi[a] && (dir[a] == 0.0f || (m >= 0x1p-126f && m <= std::numeric_limits<float>::max()));
    }
    if (!d.always.empty()) TestEach<F>(d.always, O, D, least, maxDistance, hit);
    if (tree) {
        d.traverse[static_cast<int>(F)]({d.nodes.data(), d.quads.data()}, O, D, least, maxDistance, hit);
    } else {
        TestEach<F>(d.faces, O, D, least, maxDistance, hit);
        TestEach<F>(d.quads, O, D, least, maxDistance, hit);
    }
    return hit;
}

}  // namespace

int RayScene::Intersect(const Ray& ray, float& hitDistance, float maxDistance, float minDistance) const
{
    const HitState hit = Nearest<Facing::kFront>(data_.get(), inputs_, firstFace_, ray, minDistance, maxDistance);
    if (!hit.found) return 0;
    hitDistance = hit.t;
    return 1;
}

bool RayScene::NearestHit(const Ray& ray, float maxDistance, Facing facing, RayHit& hit) const
{
    const HitState found = facing == Facing::kFront
                               ? Nearest<Facing::kFront>(data_.get(), inputs_, firstFace_, ray, 0.0f, maxDistance)
                               : Nearest<Facing::kBack>(data_.get(), inputs_, firstFace_, ray, 0.0f, maxDistance);
    if (!found.found) return false;
    const std::size_t input = InputOf(firstFace_, found.index);
    hit.t = found.t;
    hit.input = static_cast<int>(input);
    hit.face = found.index - firstFace_[input];
    const Point3& O = ray.p;
    const Point3& D = ray.dir;
    const float t = found.t;
    hit.weights = FaceBaryCoords(*inputs_[input].mesh, hit.face, {t * D.x + O.x, t * D.y + O.y, t * D.z + O.z});
    return true;
}

}  // namespace dunsmere
