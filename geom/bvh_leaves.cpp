// Packs each leaf's faces into quads for the vector face test.
#include <cstdint>
#include <vector>

#include "geom/detail/bvh.h"

void PackLeaves(std::vector<BvhNode>& nodes, const std::vector<std::uint32_t>& order,
                const std::vector<FaceRecord>& faces, std::vector<FaceQuad>& quads)
{
    quads.clear();
    quads.reserve(faces.size() / 3 + 1);
    // Nodes are in depth-first order, so the quads of leaves near each other
    // in the tree lie near each other in memory.
    for (BvhNode& node : nodes) {
        for (std::uint32_t& ref : node.child) {
            if (ref == kEmptyChild || !(ref & kLeafBit)) continue;
            const std::uint32_t first = LeafFirst(ref), count = LeafCount(ref);
            const std::uint32_t quadFirst = static_cast<std::uint32_t>(quads.size());
            for (std::uint32_t i = 0; i < count; ++i) {
                if (i % 4 == 0) quads.push_back(FaceQuad{});  // lanes left empty are zero
                SetQuadLane(quads.back(), static_cast<int>(i % 4), faces[order[first + i]]);
            }
            ref = LeafRef(quadFirst, (count + 3) / 4);
        }
    }
}
