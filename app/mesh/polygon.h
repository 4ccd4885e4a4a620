// The triangles of one polygon of a mesh file.
//
// The polygon is looked at in the plane of its Newell normal: projected along
// the normal's dominant axis, with the sign of that component as its
// orientation. Its fan from corner 0, (0, k, k + 1), is kept exactly when
// every fan triangle has that orientation and non-zero area, for then the fan
// covers the polygon exactly and a file that was always read as a fan stays
// as it was; a corner repeated in place next to its neighbour (a collapsed
// edge) leaves its fan triangle without area and does not stop the fan. Any other polygon is ear-clipped in that plane, always taking the
// ear with the lowest corner number, each ear as (previous, tip, next) of the
// corners still left; the last three corners go out the same way.
//
// Pure, exact in the projection (coordinates as floats, arithmetic in
// double), and bounded: a polygon that needs ear clipping has at most
// kMaxClippedCorners corners.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/point3.h"

namespace dunsmere {

// Ear clipping and its self-intersection test take time quadratic in the
// corner count; a fanned polygon may have any number of corners.
inline constexpr int kMaxClippedCorners = 4096;

enum class PolygonFault { kNone, kZeroArea, kSelfIntersecting, kTooManyCorners };

// Fills TRIANGLES with corner numbers (into CORNERS, which has at least three)
// of corners.size() - 2 triangles; empty on a fault.
PolygonFault TriangulatePolygon(const std::vector<Point3>& corners, std::vector<std::array<int, 3>>& triangles);

// Why, for an error message: "the polygon has zero area", ...
std::string PolygonFaultText(PolygonFault fault);

}  // namespace dunsmere
