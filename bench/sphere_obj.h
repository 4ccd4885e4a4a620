// The benchmark meshes: a cube subdivided n x n on each side, blown onto a
// sphere of radius 10 and displaced outwards and inwards by a fixed sum of
// waves, so that the spread rays of a sample meet bumps and hollows. 12 n^2
// triangles with shared vertices, one smoothing group, and a UV atlas in map
// channel 1: each cube side a chart of a 3 x 2 grid, with a margin between
// charts.
//
// The waves come from kSphereWaves alone, so every run and every machine
// gets the same file for the same n.
#pragma once

#include <cstdint>
#include <string>

inline constexpr std::uint32_t kSphereWaves = 0x5d1e'2c07u;

// The side's subdivision that gives about `triangles` triangles.
int SphereSubdivision(int triangles);

// Writes the mesh as a Wavefront OBJ; throws std::runtime_error when the
// file cannot be written.
void WriteSphereObj(const std::string& path, int n);
