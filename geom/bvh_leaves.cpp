// Packs each leaf's faces into quads for the vector face test.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "geom/detail/bvh.h"
#include "geom/parallel.h"

namespace dunsmere {

namespace {

constexpr std::size_t kNodeChunk = 64;

std::uint32_t QuadsOf(std::uint32_t ref)
{
    return ref == kEmptyChild || !(ref & kLeafBit) ? 0u : (LeafCount(ref) + 3) / 4;
}

}  // namespace

void PackLeaves(std::vector<BvhNode>& nodes, const std::vector<std::uint32_t>& order,
                std::span<const FaceRecord> faces, UnsetVector<FaceQuad>& quads, const BuildHelpers& helpers)
{
    // Nodes are in depth-first order, so the quads of leaves near each other
    // in the tree lie near each other in memory. Each chunk of nodes starts
    // at the quads the chunks before it fill, so chunks pack on any thread.
    const std::size_t chunks = (nodes.size() + kNodeChunk - 1) / kNodeChunk;
    std::vector<std::uint32_t> chunkFirst(chunks + 1, 0);
    for (std::size_t c = 0; c < chunks; ++c) {
        std::uint32_t n = 0;
        for (std::size_t i = c * kNodeChunk; i < std::min(nodes.size(), (c + 1) * kNodeChunk); ++i)
            for (std::uint32_t ref : nodes[i].child) n += QuadsOf(ref);
        chunkFirst[c + 1] = chunkFirst[c] + n;
    }
    // Each chunk sets its own quads whole, the lanes it leaves empty included.
    quads.resize(chunkFirst[chunks]);
    ParallelFor(helpers, chunks, [&](std::size_t c) {
        std::uint32_t next = chunkFirst[c];
        for (std::size_t i = c * kNodeChunk; i < std::min(nodes.size(), (c + 1) * kNodeChunk); ++i)
            for (std::uint32_t& ref : nodes[i].child) {
                if (QuadsOf(ref) == 0) continue;
                const std::uint32_t first = LeafFirst(ref), count = LeafCount(ref);
                for (std::uint32_t q = 0; q < (count + 3) / 4; ++q) quads[next + q] = FaceQuad{};
                for (std::uint32_t k = 0; k < count; ++k)
                    SetQuadLane(quads[next + k / 4], static_cast<int>(k % 4), faces[order[first + k]]);
                ref = LeafRef(next, (count + 3) / 4);
                next += (count + 3) / 4;
            }
    });
}

}  // namespace dunsmere
