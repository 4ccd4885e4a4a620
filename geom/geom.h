// Geometry layer: index-checked arrays and ray casting against a mesh.
//
//   barray.h          BArray (2-D, checked), BArray1D
//   intersect.h       BuildFaceNormals, IntersectRay, FaceBaryCoords
//   vertex_normals.h  VertexNormals, NormalNode: smoothed normals by smoothing group
//   ray_scene.h       RayScene: the faces a run's rays may hit, answered as IntersectRay,
//                     or as a RayHit (the input mesh, the face and its weights of the
//                     hit point) counting the faces' front or back sides
//   parallel.h        ParallelFor: items shared out over the threads a step is lent
#pragma once

#include "geom/barray.h"
#include "geom/intersect.h"
#include "geom/parallel.h"
#include "geom/ray_scene.h"
#include "geom/vertex_normals.h"
