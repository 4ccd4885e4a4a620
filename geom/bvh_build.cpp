// A binned surface-area-heuristic build of a binary tree over the face
// boxes, collapsed into eight-wide nodes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "geom/detail/bvh.h"

namespace {

constexpr int kBins = 16;
// A range this small becomes a leaf; up to kMaxLeafFaces when splitting it
// costs more than testing its faces.
constexpr std::uint32_t kMinSplit = 4;
// Past this depth ranges are split at their middle, so the tree stays
// within the traversal's stack.
constexpr int kSahDepth = 48;
// Cost of visiting a node against testing one face.
constexpr float kTraversalCost = 1.0f;

struct Bounds {
    float lo[3] = {INFINITY, INFINITY, INFINITY};
    float hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    void Grow(const float l[3], const float h[3])
    {
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], l[a]);
            hi[a] = std::max(hi[a], h[a]);
        }
    }
    void Grow(const Bounds& b) { Grow(b.lo, b.hi); }
    float HalfArea() const
    {
        const float x = hi[0] - lo[0], y = hi[1] - lo[1], z = hi[2] - lo[2];
        return x < 0.0f ? 0.0f : (x * y + y * z + z * x);
    }
};

struct BinaryNode {
    Bounds bounds;
    std::uint32_t first = 0, count = 0;   // a leaf's faces in the order array
    std::uint32_t left = 0, right = 0;    // children; 0 for a leaf (node 0 is the root)
    bool Leaf() const { return left == 0; }
};

class Builder {
public:
    explicit Builder(const std::vector<FaceBox>& boxes) : boxes_(boxes)
    {
        const std::size_t n = boxes.size();
        centre_.resize(n * 3);
        for (std::size_t i = 0; i < n; ++i)
            for (int a = 0; a < 3; ++a) centre_[i * 3 + a] = 0.5f * (boxes[i].lo[a] + boxes[i].hi[a]);
        order_.resize(n);
        for (std::size_t i = 0; i < n; ++i) order_[i] = static_cast<std::uint32_t>(i);
    }

    void BuildBinary()
    {
        nodes_.reserve(boxes_.size() / 2 + 1);
        nodes_.push_back({});
        Bounds all;
        for (const FaceBox& b : boxes_) all.Grow(b.lo, b.hi);
        nodes_[0].bounds = all;
        nodes_[0].count = static_cast<std::uint32_t>(boxes_.size());
        struct Job {
            std::uint32_t node;
            int depth;
        };
        std::vector<Job> jobs{{0, 0}};
        while (!jobs.empty()) {
            const Job job = jobs.back();
            jobs.pop_back();
            std::uint32_t mid;
            Bounds left, right;
            if (!Split(nodes_[job.node], job.depth, mid, left, right)) continue;
            const std::uint32_t l = static_cast<std::uint32_t>(nodes_.size());
            BinaryNode ln, rn;
            ln.bounds = left;
            ln.first = nodes_[job.node].first;
            ln.count = mid - ln.first;
            rn.bounds = right;
            rn.first = mid;
            rn.count = nodes_[job.node].first + nodes_[job.node].count - mid;
            nodes_.push_back(ln);
            nodes_.push_back(rn);
            nodes_[job.node].left = l;
            nodes_[job.node].right = l + 1;
            jobs.push_back({l + 1, job.depth + 1});
            jobs.push_back({l, job.depth + 1});
        }
    }

    // Eight-wide nodes in depth-first order, the root first.
    void Collapse(std::vector<BvhNode>& wide)
    {
        wide.clear();
        wide.reserve(nodes_.size() / 4 + 1);
        Emit(0, wide);
    }

    std::vector<std::uint32_t>& Order() { return order_; }

private:
    // Splits the node's range in place: faces [first, mid) go left. False
    // makes the node a leaf.
    bool Split(const BinaryNode& node, int depth, std::uint32_t& mid, Bounds& left, Bounds& right)
    {
        const std::uint32_t first = node.first, count = node.count;
        if (count <= kMinSplit) return false;
        Bounds centres;
        for (std::uint32_t i = first; i < first + count; ++i) {
            const float* c = &centre_[order_[i] * 3];
            centres.Grow(c, c);
        }
        int axis = -1, bin = 0;
        float best = INFINITY;
        float scale[3];
        if (depth < kSahDepth) {
            struct Bin {
                Bounds b;
                std::uint32_t n = 0;
            };
            Bin bins[3][kBins];
            for (int a = 0; a < 3; ++a) {
                const float extent = centres.hi[a] - centres.lo[a];
                scale[a] = extent > 0.0f ? static_cast<float>(kBins) / extent : 0.0f;
            }
            for (std::uint32_t i = first; i < first + count; ++i) {
                const std::uint32_t f = order_[i];
                const float* c = &centre_[f * 3];
                for (int a = 0; a < 3; ++a) {
                    const int k = std::min(kBins - 1, static_cast<int>((c[a] - centres.lo[a]) * scale[a]));
                    bins[a][k].b.Grow(boxes_[f].lo, boxes_[f].hi);
                    ++bins[a][k].n;
                }
            }
            for (int a = 0; a < 3; ++a) {
                if (scale[a] == 0.0f) continue;
                float rightArea[kBins];
                std::uint32_t rightCount[kBins];
                Bounds acc;
                std::uint32_t n = 0;
                for (int k = kBins - 1; k > 0; --k) {
                    acc.Grow(bins[a][k].b);
                    n += bins[a][k].n;
                    rightArea[k] = acc.HalfArea();
                    rightCount[k] = n;
                }
                Bounds lacc;
                std::uint32_t ln = 0;
                for (int k = 0; k < kBins - 1; ++k) {
                    lacc.Grow(bins[a][k].b);
                    ln += bins[a][k].n;
                    if (ln == 0 || rightCount[k + 1] == 0) continue;
                    const float cost = lacc.HalfArea() * static_cast<float>(ln) +
                                       rightArea[k + 1] * static_cast<float>(rightCount[k + 1]);
                    if (cost < best) {
                        best = cost;
                        axis = a;
                        bin = k;
                    }
                }
            }
        }
        if (axis >= 0) {
            const float parentArea = node.bounds.HalfArea();
            const float leafCost = static_cast<float>(count);
            const float splitCost = parentArea > 0.0f ? kTraversalCost + best / parentArea : leafCost;
            if (count <= static_cast<std::uint32_t>(kMaxLeafFaces) && leafCost <= splitCost) return false;
            const float lo = centres.lo[axis], s = scale[axis];
            const auto goesLeft = [&](std::uint32_t f) {
                return std::min(kBins - 1, static_cast<int>((centre_[f * 3 + axis] - lo) * s)) <= bin;
            };
            mid = static_cast<std::uint32_t>(
                std::partition(order_.begin() + first, order_.begin() + first + count, goesLeft) - order_.begin());
        } else {
            // Every centre in one point, or too deep: halve the range.
            mid = first + count / 2;
        }
        left = Bounds{};
        right = Bounds{};
        for (std::uint32_t i = first; i < mid; ++i) left.Grow(boxes_[order_[i]].lo, boxes_[order_[i]].hi);
        for (std::uint32_t i = mid; i < first + count; ++i) right.Grow(boxes_[order_[i]].lo, boxes_[order_[i]].hi);
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

    const std::vector<FaceBox>& boxes_;
    std::vector<float> centre_;
    std::vector<std::uint32_t> order_;
    std::vector<BinaryNode> nodes_;
};

}  // namespace

void BuildBvh(const std::vector<FaceBox>& boxes, std::vector<BvhNode>& nodes, std::vector<std::uint32_t>& order)
{
    nodes.clear();
    order.clear();
    if (boxes.empty()) return;
    Builder builder(boxes);
    builder.BuildBinary();
    builder.Collapse(nodes);
    order = std::move(builder.Order());
}
