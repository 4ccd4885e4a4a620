// Casts rays from a grid over a floor into a box-shaped room built in code and
// reports how many are stopped: the ray caster end to end on a built-in scene.
#include <chrono>
#include <cstdio>

#include "geom/geom.h"
#include "mesh_builders.h"

int main()
{
    // A floor facing up and a ceiling facing down, 4 units apart.
    Mesh room;
    AddSquare(room, 10.0f, 0.0f);
    AddSquare(room, 10.0f, 4.0f, /*down=*/true);

    Tab<Point3> faceNormals;
    BuildFaceNormals(room, faceNormals);

    const auto start = std::chrono::steady_clock::now();
    int cast = 0, hits = 0;
    float nearest = 1e30f;
    for (int iy = 0; iy < 64; ++iy) {
        for (int ix = 0; ix < 64; ++ix) {
            const Point3 origin{-4.5f + 9.0f * static_cast<float>(ix) / 63.0f,
                                -4.5f + 9.0f * static_cast<float>(iy) / 63.0f, 0.0f};
            const Ray ray{origin, Normalize(Point3{0.2f, 0.1f, 1.0f})};
            float t = 0.0f;
            ++cast;
            if (IntersectRay(room, ray, t, 30.0f, faceNormals)) {
                ++hits;
                if (t < nearest) nearest = t;
            }
        }
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("dunsmere probe: built-in scene (the command-line bake is not built yet)\n");
    std::printf("  %d faces, %d rays cast from the floor, %d hit the ceiling, nearest hit %.4f\n",
                room.getNumFaces(), cast, hits, static_cast<double>(nearest));
    std::printf("  elapsed %.2f ms\n", ms);
    return hits > 0 ? 0 : 1;
}
