// Writes the bundled example, a wooden crate: a cube body with planks on
// every side (a frame of four and a brace across the middle), so that every
// side has crevices where the planks meet the body. Each box face is a grid
// of quads; every face has its own tile of the UV atlas; smoothing groups by
// facing direction; two materials (body and planks).
//
//   make_crate > crate.obj
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(V3 a, double s) { return {a.x * s, a.y * s, a.z * s}; }

struct Writer {
    int verts = 0, uvs = 0;
    int tile = 0;
    static constexpr int kTilesPerRow = 16;  // 16 x 16 atlas of tiles

    // A rectangle origin + [0,1]*u + [0,1]*v facing u x v, as a grid of
    // nu x nv quads mapped onto the next atlas tile.
    void Rect(V3 origin, V3 u, V3 v, int nu, int nv, int group)
    {
        const int t = tile++;
        const double tu = (t % kTilesPerRow) / double(kTilesPerRow), tv = (t / kTilesPerRow) / double(kTilesPerRow);
        const double margin = 0.1 / kTilesPerRow, size = 0.8 / kTilesPerRow;
        const int base = verts + 1;
        for (int j = 0; j <= nv; ++j)
            for (int i = 0; i <= nu; ++i) {
                const V3 p = origin + u * (double(i) / nu) + v * (double(j) / nv);
                std::printf("v %.6g %.6g %.6g\n", p.x, p.y, p.z);
                std::printf("vt %.6g %.6g\n", tu + margin + size * i / nu, tv + margin + size * j / nv);
            }
        verts += (nu + 1) * (nv + 1);
        std::printf("s %d\n", group);
        for (int j = 0; j < nv; ++j)
            for (int i = 0; i < nu; ++i) {
                const int a = base + j * (nu + 1) + i, b = a + 1, c = a + nu + 2, d = a + nu + 1;
                std::printf("f %d/%d %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, d, d);
            }
    }

    // An axis-aligned box from lo to hi; `skip` names the face (0..5) that
    // lies on the body and is not drawn.
    void Box(V3 lo, V3 hi, int skip, int n)
    {
        const V3 d{hi.x - lo.x, hi.y - lo.y, hi.z - lo.z};
        auto segs = [n](double len) { return std::max(1, int(std::lround(len * n))); };
        // -x, +x, -y, +y, -z, +z; each wound to face outwards.
        if (skip != 0) Rect(lo, {0, 0, d.z}, {0, d.y, 0}, segs(d.z), segs(d.y), 1);
        if (skip != 1) Rect({hi.x, lo.y, lo.z}, {0, d.y, 0}, {0, 0, d.z}, segs(d.y), segs(d.z), 2);
        if (skip != 2) Rect(lo, {d.x, 0, 0}, {0, 0, d.z}, segs(d.x), segs(d.z), 3);
        if (skip != 3) Rect({lo.x, hi.y, lo.z}, {0, 0, d.z}, {d.x, 0, 0}, segs(d.z), segs(d.x), 4);
        if (skip != 4) Rect(lo, {0, d.y, 0}, {d.x, 0, 0}, segs(d.y), segs(d.x), 5);
        if (skip != 5) Rect({lo.x, lo.y, hi.z}, {d.x, 0, 0}, {0, d.y, 0}, segs(d.x), segs(d.y), 6);
    }
};

}  // namespace

int main()
{
    constexpr double kHalf = 1.0;      // the body is the cube [-1, 1]^3
    constexpr double kPlank = 0.28;    // plank width
    constexpr double kThick = 0.12;    // plank thickness
    Writer w;
    std::printf("# Dunsmere example: a crate with planks on every side\n");
    std::printf("mtllib crate.mtl\n");
    std::printf("o crate\n");
    std::printf("g body\nusemtl body\n");
    w.Box({-kHalf, -kHalf, -kHalf}, {kHalf, kHalf, kHalf}, -1, 6);

    std::printf("g planks\nusemtl planks\n");
    // For each side (axis, sign): a frame of four planks and a middle brace,
    // lying on the body's face.
    for (int axis = 0; axis < 3; ++axis) {
        for (int sign = -1; sign <= 1; sign += 2) {
            const int a = (axis + 1) % 3, b = (axis + 2) % 3;
            auto plank = [&](double a0, double a1, double b0, double b1) {
                double lo[3], hi[3];
                lo[axis] = sign > 0 ? kHalf : -kHalf - kThick;
                hi[axis] = sign > 0 ? kHalf + kThick : -kHalf;
                lo[a] = a0; hi[a] = a1;
                lo[b] = b0; hi[b] = b1;
                w.Box({lo[0], lo[1], lo[2]}, {hi[0], hi[1], hi[2]}, 2 * axis + (sign > 0 ? 0 : 1), 4);
            };
            const double e = kHalf, p = kPlank;
            plank(-e, e, -e, -e + p);           // frame, one edge
            plank(-e, e, e - p, e);             // frame, opposite edge
            plank(-e, -e + p, -e + p, e - p);   // frame, the two short sides
            plank(e - p, e, -e + p, e - p);
            plank(-e + p, e - p, -p / 2, p / 2); // brace across the middle
        }
    }
    return 0;
}
