// Shared pieces of the map tests: a debug-line recorder, a thread starter
// that makes a cancel land at a chosen moment, a crease mesh laid out in UV
// space, and texel values by a second route.
#pragma once

#include "scripted_threads.h"

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "eval/eval.h"
#include "geom/geom.h"
#include "host/noise.h"
#include "map/detail/rasterize.h"
#include "map/detail/texel_workers.h"
#include "map/map.h"
#include "mesh_builders.h"

namespace dunsmere {

// Collects DebugPrint lines for its lifetime.
class DebugCapture {
public:
    DebugCapture() { previous_ = SetDebugSink(&Record); Take(); }
    ~DebugCapture() { SetDebugSink(previous_); }
    std::vector<std::string> Take()
    {
        std::lock_guard<std::mutex> lock(Mutex());
        return std::exchange(Lines(), {});
    }

private:
    static std::mutex& Mutex() { static std::mutex m; return m; }
    static std::vector<std::string>& Lines() { static std::vector<std::string> l; return l; }
    static void Record(const char* text)
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Lines().push_back(text);
    }
    DebugSink previous_ = nullptr;
};

// CreaseMesh(3) with map channel 1, one map vertex per mesh vertex: the
// floor in the left of the map (u 0..0.45), the wall in the right (u 0.55..1).
inline Mesh MappedCrease()
{
    Mesh mesh = CreaseMesh(3, 10.0f);
    mesh.setNumMapVerts(1, mesh.getNumVerts());
    for (int v = 0; v < mesh.getNumVerts(); ++v) {
        const int i = v % 16;
        mesh.mapVerts(1)[v] = {(v < 16 ? 0.0f : 0.55f) + 0.15f * static_cast<float>(i % 4),
                               static_cast<float>(i / 4) / 3.0f, 0.0f};
    }
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const DWORD* c = mesh.faces[static_cast<size_t>(f)].v;
        mesh.mapFaces(1)[f].setTVerts(c[0], c[1], c[2]);
    }
    return mesh;
}

// Every face of `mesh` rasterized from channel 1 into a fresh W x H grid.
inline void RasterizeAll(const Mesh& mesh, BArray<TexelRecord>& grid, std::uint32_t W, std::uint32_t H)
{
    grid.Resize(W, H, kEmptyTexel);
    grid.Fill(kEmptyTexel);
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const DWORD* t = mesh.mapFaces(1)[f].t;
        RasterizeFace(grid, mesh.mapVerts(1)[t[0]], mesh.mapVerts(1)[t[1]], mesh.mapVerts(1)[t[2]], f);
    }
}

// Texel values by a second route, indexed [x][y]: one thread, each parity's
// rows with a fresh generator, EvaluateSample called on the records.
inline std::vector<std::vector<float>> ExpectedValues(const Mesh& mesh, const UtilitySettings& settings,
                                                      const BArray<TexelRecord>& grid, bool oddRowsOnly = false)
{
    Tab<Point3> faceNormals;
    VertexNormals vertexNormals;
    BuildFaceNormals(mesh, faceNormals);
    vertexNormals.BuildVertexNormals(mesh);
    const std::uint32_t W = grid.OuterCount(), H = W ? grid.InnerCount(0) : 0;
    std::vector<std::vector<float>> values(W, std::vector<float>(H, 0.0f));
    std::vector<Ray> rays(static_cast<size_t>(RayCount(settings)));
    for (std::uint32_t first = oddRowsOnly ? 1 : 0; first < 2; ++first) {
        CrtRand rng;
        for (std::uint32_t y = first; y < H; y += 2)
            for (std::uint32_t x = 0; x < W; ++x) {
                const TexelRecord& r = grid.Get(x, y);
                if (r.face < 0) continue;
                float v = EvaluateSample(settings, {faceNormals, vertexNormals}, mesh, r.face, r.bary, rays.data(), rng);
                if (settings.noiseOn && settings.noiseSize != 0.0f) {
                    Point3 P;
                    for (int k = 0; k < 3; ++k) P += mesh.verts[mesh.faces[static_cast<size_t>(r.face)].v[k]] * r.rawBary[k];
                    v = v * (noise3(P / settings.noiseSize) + 1.0f);
                    if (v < 0.0f) v = 0.0f;
                }
                values[x][y] = v > 1.0f ? 0.99f : v;
            }
    }
    return values;
}

}  // namespace dunsmere
