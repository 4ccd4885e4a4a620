// Rasterizing a face's map triangle into the texel grid.
//
// The rasterizer works on integer texel coordinates in two steps: it draws
// the triangle's three edges into the grid as edge markers, then fills every
// row of the triangle's bounding box from the leftmost to the rightmost
// marker. Each filled texel gets a record naming the face and the weights of
// its three vertices there. What the edge drawing marks decides coverage, so
// its end-texel rules are part of the result.
//
// Before any texel worker starts: on the user-interface thread, or for
// bands of rows with wholeGrid, on threads it lends, one band each.
#pragma once

#include <cstdint>

#include "geom/geom.h"
#include "host/point3.h"
#include "map/texel.h"

namespace dunsmere {

// Rasterizes the face with map vertices p0, p1, p2 (u = x, v = y; w unused)
// into the grid, whose columns and rows give the map's width and height. A
// face with a u or v outside [-0.001, 1.0001] (or not a number) is skipped.
// Every texel of a filled span is overwritten, so among faces covering the
// same texel the last one rasterized wins. Writes the debug lines
// "DRAWLINE : ..." for each edge and "TRIANGLE ..." once.
void RasterizeFace(BArray<TexelRecord>& grid, Point3 p0, Point3 p1, Point3 p2, int face);

// A band of a map's rows: the map is mapHeight rows tall, and the band is
// its rows first to first + count - 1. Row r of the band's own grid is the
// map's row first + r; with wholeGrid the grid holds every row of the map
// instead, and only the band's are touched, so that bands of one grid can
// be rasterized at once.
struct MapRows {
    int mapHeight;
    int first;
    std::uint32_t count;
    bool wholeGrid = false;
};

// RasterizeFace into a band: the band's texels get exactly the records the
// whole map's rows would (its width is the map's). Nothing is written when
// the band does not fit the map or the grid is not as tall as the band (the
// map, with wholeGrid). TRACE writes the debug lines.
void RasterizeFaceInRows(BArray<TexelRecord>& grid, const MapRows& rows, Point3 p0, Point3 p1, Point3 p2, int face,
                         bool trace);

// The debug lines RasterizeFace writes for the face in a mapWidth x
// mapHeight map, alone: for faces whose bands are rasterized untraced.
void TraceRasterize(Point3 p0, Point3 p1, Point3 p2, int mapWidth, int mapHeight, int face);

// The map rows, first to last, that RasterizeFace may write the face into
// in a mapWidth x mapHeight map; false for a face it skips. A band that
// holds none of them gets nothing from the face.
bool FaceRowSpan(Point3 p0, Point3 p1, Point3 p2, int mapWidth, int mapHeight, int& first, int& last);

// Writes `marker` into the texels of the edge (x0, y0) -> (x1, y1).
// Axis-aligned edges leave out their end texel (a zero-length edge draws
// nothing); any other edge is drawn by Bresenham's algorithm with both ends.
void DrawLine(int x0, int y0, int x1, int y1, BArray<TexelRecord>& grid, const TexelRecord& marker);

// Brings u and v into the unit range: a value a hair below 0 goes to the
// right or bottom edge, one a hair above 1 to just above 0. w is untouched.
void WrapToUnit(Point3& p);

}  // namespace dunsmere
