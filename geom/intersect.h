// Ray-mesh intersection, brute force over every face: the reference path.
//
// Any faster path must return exactly what IntersectRay returns, bit for bit.
#pragma once

#include "geom/ray_scene.h"
#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"

namespace dunsmere {

// The checks' source name and line numbers as a host's assertion log shows
// them: part of the interface, fixed whatever the layout of the code.
inline constexpr const char* kIntersectSource = "IntersectRay";
inline constexpr int kIntersectTableLine = 66;
inline constexpr int kIntersectCandidateLine = 70;

// Fills faceNormals with one unit normal per face, (c1 - c0) x (c2 - c1)
// normalised; a face of zero area gets the zero vector. User-interface thread,
// never while workers run; a large mesh's faces are shared out over the
// threads `helpers` lends.
void BuildFaceNormals(const Mesh& mesh, Tab<Point3>& faceNormals, const BuildHelpers& helpers = {});

// Tests the ray against every face that faces it (N . D <= -0.0001) and
// returns 1 with the nearest accepted t in hitDistance, or 0 with hitDistance
// untouched. Accepted: minDistance <= t <= maxDistance, hit point inside or on
// the face's border; minDistance, 0 or above, is the ray bias, past whose
// nearer hits the ray looks on. The direction need not be unit length: t is
// in multiples of it. Reads only; safe from any number of threads at once.
//
// Precondition: every face's vertex indices are below the vertex count.
int IntersectRay(const Mesh& mesh, const Ray& ray, float& hitDistance, float maxDistance,
                 const Tab<Point3>& faceNormals, float minDistance = 0.0f);

// Weights (w0, w1, w2) of a point in the plane of face f, from the face's
// projection onto its dominant plane. A degenerate face gives (-1, 1, 1).
Point3 FaceBaryCoords(const Mesh& mesh, int f, Point3 point);

}  // namespace dunsmere
