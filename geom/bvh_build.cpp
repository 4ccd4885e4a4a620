// A binned surface-area-heuristic build of a binary tree over the face
// boxes, collapsed into eight-wide nodes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "geom/detail/bvh.h"
#include "geom/parallel.h"

namespace dunsmere {

namespace {

constexpr int kBins = 16;
// A range this small becomes a leaf; up to kMaxLeafFaces when splitting it
// costs more than testing its faces.
constexpr std::uint32_t kMinSplit = 4;
// Past this depth ranges are split at their middle, so the tree stays
// within the traversal's stack.
constexpr int kSahDepth = 48;
// Below this many faces a build runs on the calling thread alone.
constexpr std::size_t kParallelFaces = 16384;
// Faces a thread takes at a time where the build's arrays are filled.
constexpr std::size_t kPrimChunk = 8192;
// Cost of visiting a node against testing one quad of a leaf: a leaf's
// faces are tested four at a time, so its cost is its quads.
constexpr float kTraversalCost = 1.0f;
float Quads(std::uint32_t faces) { return static_cast<float>((faces + 3) / 4); }

// Four lanes, the fourth unused, so that a bound grows in one vector step.
struct Bounds {
    float lo[4] = {INFINITY, INFINITY, INFINITY, 0.0f};
    float hi[4] = {-INFINITY, -INFINITY, -INFINITY, 0.0f};
    void Grow(const float l[4], const float h[4])
    {
#if defined(__SSE2__)
        _mm_storeu_ps(lo, _mm_min_ps(_mm_loadu_ps(lo), _mm_loadu_ps(l)));
        _mm_storeu_ps(hi, _mm_max_ps(_mm_loadu_ps(hi), _mm_loadu_ps(h)));
#else
        for (int a = 0; a < 4; ++a) {
            lo[a] = std::min(lo[a], l[a]);
            hi[a] = std::max(hi[a], h[a]);
        }
#endif
    }
    void Grow(const Bounds& b) { Grow(b.lo, b.hi); }
    float HalfArea() const
    {
        const float x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
        return x < 0.0f ? 0.0f : (x * y + y * z + z * x);
    }
};

// The bin of a centre coordinate; the centre lies within lo .. lo + bins / scale.
int BinOf(float centre, float lo, float scale, int bins)
{
    return static_cast<int>(std::min((centre - lo) * scale, static_cast<float>(bins - 1)));
}

// Fewer bins for small ranges: most splits are of a few dozen faces, where
// clearing and sweeping sixteen bins a side would cost more than binning.
int BinsFor(std::uint32_t count) { return count < 64 ? kBins / 2 : kBins; }

struct BinaryNode {
    Bounds bounds;
    Bounds centres;                       // of its faces' box centres
    std::uint32_t first = 0, count = 0;   // a leaf's faces in the order array
    std::uint32_t left = 0, right = 0;    // children; 0 for a leaf (node 0 is the root)
    bool Leaf() const { return left == 0; }
};

// A face as the build moves it: its box and its index. The ranges being
// split hold these by value, so every pass reads memory in order.
struct Prim {
    float lo[4];
    float hi[4];
    std::uint32_t face;
    float Centre(int a) const { return 0.5f * (lo[a] + hi[a]); }
    // Grows `b` by the box's centre (lanes as Centre computes them). One
    // vector store feeds one vector load: filling the lanes one by one and
    // loading them whole would stall on the store forwarding.
    void GrowByCentre(Bounds& b) const
    {
#if defined(__SSE2__)
        alignas(16) float c[4];
        _mm_store_ps(c, _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(lo), _mm_loadu_ps(hi)), _mm_set1_ps(0.5f)));
#else
        const float c[4] = {Centre(0), Centre(1), Centre(2), 0.0f};
#endif
        b.Grow(c, c);
    }
};

class Builder {
public:
    Builder(std::span<const FaceBox> boxes, const BuildHelpers& helpers)
    {
        const std::size_t n = boxes.size();
        prims_.resize(n);
        const std::size_t chunks = (n + kPrimChunk - 1) / kPrimChunk;
        ParallelFor(n < kParallelFaces ? BuildHelpers{} : helpers, chunks, [&](std::size_t c) {
            for (std::size_t i = c * kPrimChunk; i < std::min(n, (c + 1) * kPrimChunk); ++i) {
                for (int a = 0; a < 3; ++a) {
                    prims_[i].lo[a] = boxes[i].lo[a];
                    prims_[i].hi[a] = boxes[i].hi[a];
                }
                prims_[i].lo[3] = prims_[i].hi[3] = 0.0f;
                prims_[i].face = static_cast<std::uint32_t>(i);
            }
        });
    }

    void BuildBinary(const BuildHelpers& helpers)
    {
        nodes_.reserve(prims_.size() / 2 + 1);
        nodes_.push_back({});
        BinaryNode& root = nodes_[0];
        for (const Prim& p : prims_) {
            root.bounds.Grow(p.lo, p.hi);
            p.GrowByCentre(root.centres);
        }
        root.count = static_cast<std::uint32_t>(prims_.size());
        const int threads = ThreadsOf(helpers);
        if (threads < 2 || prims_.size() < kParallelFaces) {
            Grow(nodes_, {0, 0}, bins_);
            return;
        }
        // Every node is split by the same rule whichever thread splits it and
        // whenever, so the tree does not depend on the thread count. The
        // largest open node is split here until there is work for each
        // thread; each open node's subtree then grows in a list of its own,
        // and the lists are appended after.
        std::vector<Job> open{{0, 0}};
        while (static_cast<int>(open.size()) < 2 * threads) {
            auto largest = std::max_element(open.begin(), open.end(), [this](const Job& a, const Job& b) {
                return nodes_[a.node].count < nodes_[b.node].count;
            });
            if (nodes_[largest->node].count < kParallelFaces / 4) break;
            const Job job = *largest;
            open.erase(largest);
            const std::uint32_t l = SplitInto(nodes_, job, bins_);
            if (l == 0) continue;
            open.push_back({l, job.depth + 1});
            open.push_back({l + 1, job.depth + 1});
        }
        std::vector<UnsetVector<BinaryNode>> parts(open.size());
        ParallelFor(helpers, open.size(), [this, &open, &parts](std::size_t i) {
            BinSet bins;
            // As the whole tree's list is: grown by doubling, a part would
            // copy itself and touch fresh pages on every step.
            parts[i].reserve(nodes_[open[i].node].count / 2 + 1);
            parts[i].push_back(nodes_[open[i].node]);
            Grow(parts[i], {0, open[i].depth}, bins);
        });
        // A part's node 0 is its open node, already in the tree; its node
        // p > 0 goes to base + p - 1. The parts are copied in side by side.
        std::vector<std::uint32_t> bases(open.size());
        std::size_t total = nodes_.size();
        for (std::size_t i = 0; i < open.size(); ++i) {
            bases[i] = static_cast<std::uint32_t>(total);
            total += parts[i].size() - 1;
        }
        nodes_.resize(total);
        auto place = [&bases](std::size_t i, std::uint32_t p) { return p == 0 ? 0u : bases[i] + p - 1; };
        ParallelFor(helpers, open.size(), [&](std::size_t i) {
            const UnsetVector<BinaryNode>& part = parts[i];
            for (std::size_t p = 1; p < part.size(); ++p) {
                BinaryNode n = part[p];
                n.left = place(i, n.left);
                n.right = place(i, n.right);
                nodes_[bases[i] + p - 1] = n;
            }
        });
        for (std::size_t i = 0; i < open.size(); ++i) {
            nodes_[open[i].node].left = place(i, parts[i][0].left);
            nodes_[open[i].node].right = place(i, parts[i][0].right);
        }
    }

    // Eight-wide nodes in depth-first order, the root first.
    void Collapse(std::vector<BvhNode>& wide)
    {
        wide.clear();
        wide.reserve(nodes_.size() / 4 + 1);
        Emit(0, wide);
    }

    std::vector<std::uint32_t> Order() const
    {
        std::vector<std::uint32_t> order(prims_.size());
        for (std::size_t i = 0; i < prims_.size(); ++i) order[i] = prims_[i].face;
        return order;
    }

private:
    struct Bin {
        Bounds b;
        std::uint32_t n = 0;
    };
    using BinSet = Bin[3][kBins];  // the split in hand's, cleared as far as it uses them
    struct Job {
        std::uint32_t node;
        int depth;
    };

    // Splits nodes[job.node], appending its two children; returns the left
    // child's index, or 0 when the node stays a leaf.
    std::uint32_t SplitInto(UnsetVector<BinaryNode>& nodes, Job job, BinSet& bins)
    {
        BinaryNode ln, rn;
        if (!Split(nodes[job.node], job.depth, ln, rn, bins)) return 0;
        const std::uint32_t l = static_cast<std::uint32_t>(nodes.size());
        nodes.push_back(ln);
        nodes.push_back(rn);
        nodes[job.node].left = l;
        nodes[job.node].right = l + 1;
        return l;
    }

    // Splits nodes[root.node] and everything below it as far as they go.
    void Grow(UnsetVector<BinaryNode>& nodes, Job root, BinSet& bins)
    {
        std::vector<Job> jobs{root};
        while (!jobs.empty()) {
            const Job job = jobs.back();
            jobs.pop_back();
            const std::uint32_t l = SplitInto(nodes, job, bins);
            if (l == 0) continue;
            jobs.push_back({l + 1, job.depth + 1});
            jobs.push_back({l, job.depth + 1});
        }
    }

    // Splits the node's range in place into two children, each with its
    // bounds and its centres' bounds. False makes the node a leaf.
    bool Split(const BinaryNode& node, int depth, BinaryNode& left, BinaryNode& right, BinSet& bins)
    {
        const std::uint32_t first = node.first, count = node.count, end = first + count;
        if (count <= kMinSplit) return false;
        const Bounds& centres = node.centres;
        int axis = -1, bin = 0;
        float best = INFINITY;
        float scale[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        const int nb = BinsFor(count);
        if (depth < kSahDepth) {
            for (int a = 0; a < 3; ++a) {
                const float extent = centres.hi[a] - centres.lo[a];
                scale[a] = extent > 0.0f ? static_cast<float>(nb) / extent : 0.0f;
                for (int k = 0; k < nb; ++k) bins[a][k] = Bin{};
            }
            for (std::uint32_t i = first; i < end; ++i) {
                const Prim& p = prims_[i];
                int k[4];
#if defined(__SSE2__)
                // The lanes compute BinOf's very expressions.
                const __m128 c = _mm_mul_ps(_mm_add_ps(_mm_loadu_ps(p.lo), _mm_loadu_ps(p.hi)), _mm_set1_ps(0.5f));
                const __m128 x = _mm_mul_ps(_mm_sub_ps(c, _mm_loadu_ps(centres.lo)), _mm_loadu_ps(scale));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(k),
                                 _mm_cvttps_epi32(_mm_min_ps(x, _mm_set1_ps(static_cast<float>(nb - 1)))));
#else
                for (int a = 0; a < 3; ++a) k[a] = BinOf(p.Centre(a), centres.lo[a], scale[a], nb);
#endif
                for (int a = 0; a < 3; ++a) {
                    bins[a][k[a]].b.Grow(p.lo, p.hi);
                    ++bins[a][k[a]].n;
                }
            }
            for (int a = 0; a < 3; ++a) {
                if (scale[a] == 0.0f) continue;
                float rightArea[kBins];
                std::uint32_t rightCount[kBins];
                Bounds acc;
                std::uint32_t n = 0;
                for (int k = nb - 1; k > 0; --k) {
                    acc.Grow(bins[a][k].b);
                    n += bins[a][k].n;
                    rightArea[k] = acc.HalfArea();
                    rightCount[k] = n;
                }
                Bounds lacc;
                std::uint32_t ln = 0;
                for (int k = 0; k < nb - 1; ++k) {
                    lacc.Grow(bins[a][k].b);
                    ln += bins[a][k].n;
                    if (ln == 0 || rightCount[k + 1] == 0) continue;
                    const float cost = lacc.HalfArea() * Quads(ln) + rightArea[k + 1] * Quads(rightCount[k + 1]);
                    if (cost < best) {
                        best = cost;
                        axis = a;
                        bin = k;
                    }
                }
            }
        }
        left = BinaryNode{};
        right = BinaryNode{};
        std::uint32_t mid;
        if (axis >= 0) {
            const float parentArea = node.bounds.HalfArea();
            const float leafCost = Quads(count);
            const float splitCost = parentArea > 0.0f ? kTraversalCost + best / parentArea : leafCost;
            if (count <= static_cast<std::uint32_t>(kMaxLeafFaces) && leafCost <= splitCost) return false;
            // The children's boxes are the unions of their bins.
            for (int k = 0; k < nb; ++k) (k <= bin ? left : right).bounds.Grow(bins[axis][k].b);
            const float lo = centres.lo[axis], s = scale[axis];
            mid = first;
            for (std::uint32_t i = first; i < end; ++i) {
                if (BinOf(prims_[i].Centre(axis), lo, s, nb) <= bin) {
                    prims_[i].GrowByCentre(left.centres);
                    std::swap(prims_[i], prims_[mid++]);
                } else {
                    prims_[i].GrowByCentre(right.centres);
                }
            }
        } else {
            // Every centre in one point, or too deep: halve the range.
            mid = first + count / 2;
            for (std::uint32_t i = first; i < end; ++i) {
                BinaryNode& side = i < mid ? left : right;
                side.bounds.Grow(prims_[i].lo, prims_[i].hi);
                prims_[i].GrowByCentre(side.centres);
            }
        }
        left.first = first;
        left.count = mid - first;
        right.first = mid;
        right.count = end - mid;
        return true;
    }

    std::uint32_t Emit(std::uint32_t root, std::vector<BvhNode>& wide)
    {
        const std::uint32_t index = static_cast<std::uint32_t>(wide.size());
        wide.emplace_back();
        // Open the largest inner child until there are eight.
        std::uint32_t kids[8];
        int n = 0;
        if (nodes_[root].Leaf()) {
            kids[n++] = root;
        } else {
            kids[n++] = nodes_[root].left;
            kids[n++] = nodes_[root].right;
        }
        while (n < 8) {
            int pick = -1;
            float area = -1.0f;
            for (int i = 0; i < n; ++i)
                if (!nodes_[kids[i]].Leaf() && nodes_[kids[i]].bounds.HalfArea() > area) {
                    area = nodes_[kids[i]].bounds.HalfArea();
                    pick = i;
                }
            if (pick < 0) break;
            const BinaryNode& open = nodes_[kids[pick]];
            kids[pick] = open.left;
            kids[n++] = open.right;
        }
        std::uint32_t refs[8];
        for (int i = 0; i < n; ++i) {
            const BinaryNode& c = nodes_[kids[i]];
            refs[i] = c.Leaf() ? LeafRef(c.first, c.count) : Emit(kids[i], wide);
        }
        BvhNode& node = wide[index];
        for (int i = 0; i < 8; ++i) {
            for (int a = 0; a < 3; ++a) {
                node.lo[a][i] = i < n ? nodes_[kids[i]].bounds.lo[a] : INFINITY;
                node.hi[a][i] = i < n ? nodes_[kids[i]].bounds.hi[a] : -INFINITY;
            }
            node.child[i] = i < n ? refs[i] : kEmptyChild;
        }
        return index;
    }

    BinSet bins_;
    UnsetVector<Prim> prims_;
    UnsetVector<BinaryNode> nodes_;
};

}  // namespace

void BuildBvh(std::span<const FaceBox> boxes, std::vector<BvhNode>& nodes, std::vector<std::uint32_t>& order,
              const BuildHelpers& helpers)
{
    nodes.clear();
    order.clear();
    if (boxes.empty()) return;
    Builder builder(boxes, helpers);
    builder.BuildBinary(helpers);
    builder.Collapse(nodes);
    order = builder.Order();
}

}  // namespace dunsmere
