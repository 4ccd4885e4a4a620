// The rasterizer on any map coordinates, into maps up to 1024 a side: no
// access outside the grid, no edge marker left behind, and every record it
// writes names the face with finite weights.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "fuzz_target.h"
#include "map/detail/rasterize.h"

using namespace dunsmere;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 4) return 0;
    const std::uint32_t W = 1u + ((data[0] | (data[1] << 8)) % 1024u);
    const std::uint32_t H = 1u + ((data[2] | (data[3] << 8)) % 1024u);
    data += 4;
    size -= 4;
    // Keep the work per input bounded: large maps get few faces.
    const std::size_t maxFaces = W * H > 65536u ? 4u : 64u;
    BArray<TexelRecord> grid;
    grid.Resize(W, H, kEmptyTexel);
    int face = 0;
    for (; size >= 24 && static_cast<std::size_t>(face) < maxFaces; data += 24, size -= 24, ++face) {
        float uv[6];
        std::memcpy(uv, data, sizeof uv);
        RasterizeFace(grid, {uv[0], uv[1], 0.0f}, {uv[2], uv[3], 0.0f}, {uv[4], uv[5], 0.0f}, face);
    }
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            const TexelRecord r = grid.Get(x, y);
            if (r.face == -1) {
                if (IsEdgeMarker(r)) FuzzFinding("an edge marker was left in the grid");
                continue;
            }
            if (r.face < 0 || r.face >= face) FuzzFinding("a record names a face never rasterized");
            if (!std::isfinite(r.bary.x) || !std::isfinite(r.bary.y) || !std::isfinite(r.bary.z))
                FuzzFinding("a record's weights are not finite");
        }
    return 0;
}
