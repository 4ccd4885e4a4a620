// IntersectRay's loop for either facing, telling the face it ends on: what a
// scene without a tree answers through, input by input.
#pragma once

#include "geom/ray_scene.h"
#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"

namespace dunsmere {

// As IntersectRay, checks and reports included, counting the faces that face
// the ray as `facing` asks; on a hit, `face` is the face whose t is in
// hitDistance (of equal distances, the later face's), else it is untouched.
int NearestFace(const Mesh& mesh, const Ray& ray, Facing facing, float& hitDistance, int& face, float maxDistance,
                const Tab<Point3>& faceNormals, float minDistance = 0.0f);

}  // namespace dunsmere
