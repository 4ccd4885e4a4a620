// What the written files declare, checked with the format libraries (or the
// bytes) directly rather than with the project's own readers, so that a
// writer and reader that share a mistake cannot agree on it.
#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputFile.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "app/image/image_files.h"
#include "image_attempt.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

// 3 x 2: the top row light, the bottom row dark with alpha 0.
const std::vector<BMM_Color_64> kPixels = {
    {65535, 40000, 20000, 65535}, {65534, 40001, 20001, 65535}, {65533, 40002, 20002, 65535},
    {1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0},
};

uint32_t BigEndian32(const unsigned char* p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

TEST(ImageLayout, PngIs16BitRgbaWithoutColourChunks)
{
    ScratchDir dir;
    ASSERT_TRUE(Attempt([&] { WriteImageFile(dir / "map.png", 3, 2, kPixels); }).ok);
    std::ifstream in(dir / "map.png", std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(bytes.size(), 33u);
    ASSERT_EQ(std::string(bytes.begin() + 12, bytes.begin() + 16), "IHDR");
    EXPECT_EQ(BigEndian32(&bytes[16]), 3u);
    EXPECT_EQ(BigEndian32(&bytes[20]), 2u);
    EXPECT_EQ(bytes[24], 16);  // bit depth
    EXPECT_EQ(bytes[25], 6);   // colour type: RGB with alpha
    EXPECT_EQ(bytes[28], 0);   // not interlaced
    // A gamma or colour-space chunk would let readers change the levels.
    std::vector<std::string> chunks;
    for (size_t at = 8; at + 8 <= bytes.size(); at += 12 + BigEndian32(&bytes[at]))
        chunks.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at) + 4, bytes.begin() + static_cast<std::ptrdiff_t>(at) + 8);
    EXPECT_EQ(chunks, (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
}

TEST(ImageLayout, TiffIsRgbWithUnassociatedAlphaTopRowFirst)
{
    ScratchDir dir;
    const std::string path = dir / "map.tif";
    ASSERT_TRUE(Attempt([&] { WriteImageFile(path, 3, 2, kPixels); }).ok);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, orientation = 0, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    EXPECT_EQ(width, 3u);
    EXPECT_EQ(height, 2u);
    EXPECT_EQ(bits, 16);
    EXPECT_EQ(samples, 4);
    EXPECT_EQ(photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(orientation, ORIENTATION_TOPLEFT);
    ASSERT_EQ(extraCount, 1);
    EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
    std::vector<uint16_t> row(12);
    ASSERT_EQ(TIFFReadScanline(tif, row.data(), 0, 0), 1);
    EXPECT_EQ(row, (std::vector<uint16_t>{65535, 40000, 20000, 65535, 65534, 40001, 20001, 65535, 65533, 40002, 20002, 65535}));
    TIFFClose(tif);
}

TEST(ImageLayout, ExrHasHalfRgbaLosslessly)
{
    ScratchDir dir;
    const std::string path = dir / "map.exr";
    ASSERT_TRUE(Attempt([&] { WriteImageFile(path, 3, 2, kPixels); }).ok);
    Imf::InputFile file(path.c_str());
    std::vector<std::string> names;
    for (auto c = file.header().channels().begin(); c != file.header().channels().end(); ++c) {
        names.emplace_back(c.name());
        EXPECT_EQ(c.channel().type, Imf::HALF) << c.name();
    }
    EXPECT_EQ(names, (std::vector<std::string>{"A", "B", "G", "R"}));
    EXPECT_EQ(file.header().compression(), Imf::ZIP_COMPRESSION);
    EXPECT_EQ(file.header().dataWindow().max.x, 2);
    EXPECT_EQ(file.header().dataWindow().max.y, 1);
}

// Grey files say so in the formats' own terms: PNG's colour types 0 and 4,
// TIFF's minimum-is-black with one extra sample, OpenEXR's luminance Y.
TEST(ImageLayout, GreyFilesDeclareGrey)
{
    ScratchDir dir;
    const auto write = [&](const std::string& name, ImageLayout layout) {
        EXPECT_TRUE(Attempt([&] { WriteImageFile(dir / name, 3, 2, kPixels, 1, layout); }).ok) << name;
        return dir / name;
    };
    for (const auto& [layout, depth, type] : {std::tuple{ImageLayout{ImageChannels::kGrey, 8}, 8, 0},
                                              std::tuple{ImageLayout{ImageChannels::kGreyAlpha, 16}, 16, 4}}) {
        std::ifstream in(write("grey.png", layout), std::ios::binary);
        const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
        ASSERT_GT(bytes.size(), 26u);
        EXPECT_EQ(bytes[24], depth);
        EXPECT_EQ(bytes[25], type);
    }
    TIFF* tif = TIFFOpen(write("grey.tif", {ImageChannels::kGreyAlpha, 8}).c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint16_t bits = 0, samples = 0, photometric = 0, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(samples, 2);
    EXPECT_EQ(photometric, PHOTOMETRIC_MINISBLACK);
    ASSERT_EQ(extraCount, 1);
    EXPECT_EQ(extra[0], EXTRASAMPLE_UNASSALPHA);
    TIFFClose(tif);
    Imf::InputFile file(write("grey.exr", {ImageChannels::kGrey, 16}).c_str());
    std::vector<std::string> names;
    for (auto c = file.header().channels().begin(); c != file.header().channels().end(); ++c) names.emplace_back(c.name());
    EXPECT_EQ(names, std::vector<std::string>{"Y"});
}

}  // namespace
