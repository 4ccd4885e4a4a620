// Scratch folders and file helpers for the mesh file tests.
#pragma once

#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "app/mesh/mesh_files.h"

namespace dunsmere {

// A fresh folder under the system's temporary folder, removed with its
// contents at the end of the test.

inline void WriteText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Points compared by their bits: a written file must give back exactly the
// floats it was written from, signed zeros included.
inline bool SameBits(const Point3& a, const Point3& b)
{
    return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
           std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y) &&
           std::bit_cast<std::uint32_t>(a.z) == std::bit_cast<std::uint32_t>(b.z);
}

// All of two meshes that a file holds: positions, faces with groups and
// flags, and every map channel including the colours, all to the bit.
inline void ExpectSameMesh(const Mesh& a, const Mesh& b)
{
    ASSERT_EQ(a.getNumVerts(), b.getNumVerts());
    ASSERT_EQ(a.getNumFaces(), b.getNumFaces());
    for (int i = 0; i < a.getNumVerts(); ++i) EXPECT_TRUE(SameBits(a.getVert(i), b.getVert(i))) << "vertex " << i;
    for (int f = 0; f < a.getNumFaces(); ++f) {
        const Face& fa = a.faces[static_cast<size_t>(f)];
        const Face& fb = b.faces[static_cast<size_t>(f)];
        EXPECT_TRUE(fa.v[0] == fb.v[0] && fa.v[1] == fb.v[1] && fa.v[2] == fb.v[2]) << "face " << f;
        EXPECT_EQ(fa.smGroup, fb.smGroup) << "face " << f;
        EXPECT_EQ(fa.flags, fb.flags) << "face " << f;
    }
    for (int ch = 0; ch < kMaxMapChannels; ++ch) {
        ASSERT_EQ(a.mapSupport(ch), b.mapSupport(ch)) << "channel " << ch;
        if (!a.mapSupport(ch)) continue;
        ASSERT_EQ(a.getNumMapVerts(ch), b.getNumMapVerts(ch)) << "channel " << ch;
        for (int i = 0; i < a.getNumMapVerts(ch); ++i)
            EXPECT_TRUE(SameBits(a.mapVerts(ch)[i], b.mapVerts(ch)[i])) << "channel " << ch << " vertex " << i;
        for (int f = 0; f < a.getNumFaces(); ++f)
            EXPECT_EQ(a.mapFaces(ch)[f], b.mapFaces(ch)[f]) << "channel " << ch << " face " << f;
    }
}

}  // namespace dunsmere
