// The ray scene: every face a generation's rays may hit, prepared once per
// run so that a ray meets only the faces it can possibly hit.
//
// Intersect answers exactly what IntersectRay answers over the same faces,
// bit for bit: the hit flag, the hit distance (even the sign of a zero) and
// an untouched hitDistance on a miss. NearestHit also says which face was
// hit, and where in it, and may count the faces' back sides instead. Faces
// go through the one per-face test on every route; a bounding volume
// hierarchy of eight-wide nodes decides only which faces are tested, and it
// skips only faces that cannot be hit.
//
// Build and Clear run on the user-interface thread while no worker runs;
// Intersect and NearestHit only read and may be called from any number of
// threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"
#include "host/threads.h"

namespace dunsmere {

// One mesh of a scene with its face normals (one per face, as
// BuildFaceNormals makes them). Both must outlive the scene's use.
struct SceneInput {
    const Mesh* mesh;
    const Tab<Point3>* faceNormals;
};

// How a scene answers rays. kPlain tests every face in face order, as
// IntersectRay does; the others walk the tree, with box tests in portable
// C++ (kScalar) or in the named instruction set.
enum class RayRoute { kPlain, kScalar, kSse2, kAvx2, kAvx512 };

// The fastest route this processor runs, unless the environment variable
// DUNSMERE_RAYS names one ("plain", "scalar", "sse2", "avx2", "avx512"); a
// named route the processor lacks gives the best it has.
RayRoute DefaultRayRoute();
// Whether this build and processor can run `route`.
bool RouteSupported(RayRoute route);
const char* RouteName(RayRoute route);

// Which side of its faces a query counts: the front, N . D <= -0.0001, as
// IntersectRay does; or the back, N . D >= 0.0001, for rays cast into the
// inside of a surface. N is the face's stored normal, D the ray's direction.
enum class Facing { kFront, kBack };

// The nearest hit of a query: its t; the input of Build whose mesh holds the
// face hit (an index into those inputs), and the face in that mesh; and the
// face's weights of the hit point, FaceBaryCoords(mesh, face, P) of the very
// P = (t*D.x + O.x, t*D.y + O.y, t*D.z + O.z) the face test computes, so
// that none is negative.
struct RayHit {
    float t = 0.0f;
    int input = -1;
    int face = -1;
    Point3 weights;
};

class HelperCrew;

// Threads a build may start beside the calling one, through `starter`:
// `threads` in all, the caller's included. They are not worker threads;
// none is left running when Build returns, unless they are a crew's
// (geom/parallel.h), which its owner started for several builds and ends.
struct BuildHelpers {
    ThreadStarter* starter = nullptr;
    int threads = 1;
    HelperCrew* crew = nullptr;

    BuildHelpers() = default;
    BuildHelpers(ThreadStarter* s, int n, HelperCrew* c = nullptr) : starter(s), threads(n), crew(c) {}
};

struct SceneStats {
    int faces = 0;        // faces kept (those that can be hit)
    int treeFaces = 0;    // of them, in the tree
    int alwaysFaces = 0;  // of them, tested for every ray
    int nodes = 0;
    std::size_t bytes = 0;  // everything the scene keeps after its build
};

class RayScene {
public:
    RayScene();
    ~RayScene();
    RayScene(const RayScene&) = delete;
    RayScene& operator=(const RayScene&) = delete;

    // Replaces the scene by the faces of `inputs`, in input order (the faces
    // of the first input first). Face indices, and so the tie rule, run
    // over that concatenation. The inputs must stay as they are while rays
    // are cast. When memory for the tree runs out, or an input's normal
    // table does not match its faces, the scene answers through IntersectRay
    // itself, input by input.
    void Build(std::span<const SceneInput> inputs, RayRoute route = DefaultRayRoute(), const BuildHelpers& helpers = {});
    // Frees everything; Intersect then finds nothing.
    void Clear();

    // As IntersectRay over the scene's faces, with the same minDistance: 1
    // with the nearest accepted t in hitDistance, or 0 with hitDistance
    // untouched.
    int Intersect(const Ray& ray, float& hitDistance, float maxDistance, float minDistance = 0.0f) const;
    // The nearest hit within maxDistance on the faces that face the ray as
    // `facing` asks, by Intersect's rules: among equal distances, the later
    // face of the inputs' concatenation. True with `hit` filled, or false
    // with `hit` untouched. For the front, hit.t is what Intersect answers.
    bool NearestHit(const Ray& ray, float maxDistance, Facing facing, RayHit& hit) const;

    RayRoute Route() const;
    SceneStats Stats() const;

    struct Data;

private:
    static std::unique_ptr<Data> MakeData(std::span<const SceneInput> inputs, const std::vector<int>& firstFace,
                                          RayRoute route, const BuildHelpers& helpers);

    std::vector<SceneInput> inputs_;
    std::vector<int> firstFace_;  // the scene index of each input's first face
    std::unique_ptr<Data> data_;
};

}  // namespace dunsmere
