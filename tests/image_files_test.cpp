#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "app/image/image_codecs.h"
#include "app/image/image_files.h"
#include "app/image/sample_rows.h"
#include "file_bytes.h"
#include "image_attempt.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

constexpr WORD kLevels[] = {0, 1, 32767, 65534, 65535};

// 7 x 3, so that a swapped width and height or a flipped row shows. Every
// channel, alpha included, takes every level, and colour sits under alpha 0,
// which a premultiplying writer would lose.
RgbaImage16 EdgeLevels()
{
    RgbaImage16 image{7, 3, {}};
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            image.pixels.push_back({kLevels[(x + y) % 5], kLevels[(x + 2 * y + 1) % 5], kLevels[(3 * x + y + 2) % 5],
                                    kLevels[(x + 3 * y + 3) % 5]});
    return image;
}

// Random levels that no compressor can shrink much: 512 KiB of samples.
RgbaImage16 Noise(int size = 256)
{
    std::mt19937 engine(12345);
    RgbaImage16 image{size, size, std::vector<BMM_Color_64>(static_cast<size_t>(size) * size)};
    for (BMM_Color_64& p : image.pixels) {
        p.r = static_cast<WORD>(engine());
        p.g = static_cast<WORD>(engine());
        p.b = static_cast<WORD>(engine());
        p.a = static_cast<WORD>(engine());
    }
    return image;
}

ImageAttempt Write(const std::string& path, const RgbaImage16& image)
{
    return Attempt([&] { WriteImageFile(path, image.width, image.height, image.pixels); });
}

RgbaImage16 Read16(const std::string& path)
{
    RgbaImage16 image;
    const ImageFileResult read = ReadImageFile16(path, image);
    EXPECT_TRUE(read.ok) << read.error;
    return image;
}

class LevelFormats : public testing::TestWithParam<const char*> {};

TEST_P(LevelFormats, KeepEvery16BitLevelAndRowOrder)
{
    ScratchDir dir;
    const std::string path = dir / GetParam();
    const RgbaImage16 image = EdgeLevels();
    const ImageAttempt written = Write(path, image);
    ASSERT_TRUE(written.ok) << written.error;
    const RgbaImage16 back = Read16(path);
    EXPECT_EQ(back.width, 7);
    EXPECT_EQ(back.height, 3);
    EXPECT_EQ(back.pixels, image.pixels);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{GetParam()});
}

INSTANTIATE_TEST_SUITE_P(ImageFiles, LevelFormats, testing::Values("map.png", "map.tif", "map.tiff", "MAP.PNG", "map.Tif"));

TEST(ImageFiles, ExrHoldsLevelsOver65535AsHalves)
{
    ScratchDir dir;
    const std::string path = dir / "map.exr";
    const RgbaImage16 image = EdgeLevels();
    ASSERT_TRUE(Write(path, image).ok);
    RgbaImageFloat back;
    const ImageFileResult read = ReadImageFileFloat(path, back);
    ASSERT_TRUE(read.ok) << read.error;
    ASSERT_EQ(back.width, 7);
    ASSERT_EQ(back.height, 3);
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    const auto near = [](float got, WORD level) {
        const float want = static_cast<float>(level) / 65535.0f;
        EXPECT_NEAR(got, want, want / 2048.0f + 1e-7f) << "level " << level;
    };
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        near(back.pixels[i].r, image.pixels[i].r);
        near(back.pixels[i].g, image.pixels[i].g);
        near(back.pixels[i].b, image.pixels[i].b);
        near(back.pixels[i].a, image.pixels[i].a);
    }
}

// Smooth runs, edges and noise side by side, so that rows take different
// filters, at the given size.
RgbaImage16 Mixed(int width, int height)
{
    const RgbaImage16 noise = Noise(64);
    RgbaImage16 image{width, height, {}};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const BMM_Color_64& n = noise.pixels[static_cast<size_t>((y % 64) * 64 + x % 64)];
            const auto level = [](int v) { return static_cast<WORD>(v & 0xffff); };
            image.pixels.push_back(y % 7 == 3 ? n
                                   : x < width / 2 ? BMM_Color_64{level(x * 301), level(y * 77), level(x * y), 65535}
                                                   : BMM_Color_64{level(y * 509), level(y), level(x / 8 * 4096), level(n.a & 0xff)});
        }
    return image;
}

// What a file in LAYOUT holds of IMAGE, read back as 16-bit RGBA.
RgbaImage16 AsWritten(RgbaImage16 image, ImageLayout layout)
{
    for (BMM_Color_64& p : image.pixels) {
        if (layout.channels != ImageChannels::kRgba) p = {p.r, p.r, p.r, layout.channels == ImageChannels::kGrey ? WORD{65535} : p.a};
        if (layout.bitDepth == 8)
            for (WORD* s : {&p.r, &p.g, &p.b, &p.a}) *s = static_cast<WORD>(Level8(*s) * 257);
    }
    return image;
}

constexpr ImageLayout kLayouts[] = {{ImageChannels::kRgba, 16}, {ImageChannels::kGrey, 16},
                                    {ImageChannels::kGreyAlpha, 8}, {ImageChannels::kGrey, 8}};

// The banded writer against libpng's single stream: the same pixels, which
// are the image's in each layout, and the same bytes on 1 to 7 threads.
// The sizes cut into bands unevenly, or are one band of one row.
TEST(ImageFiles, PngBandsHoldLibpngsPixelsOnAnyThreadCount)
{
    ScratchDir dir;
    const std::string path = dir / "bands.png";
    const auto encoded = [&](const RgbaImage16& image, ImageLayout layout, int threads) {
        TemporaryFile file(path);
        std::string reason;
        const bool written = threads == 0
                                 ? WritePngLibpng(file, image.width, image.height, image.pixels.data(), layout, reason)
                                 : WritePng(file, image.width, image.height, image.pixels.data(), layout, threads, reason);
        EXPECT_TRUE(written && file.Commit()) << reason;
        return ReadAll(path);
    };
    for (const RgbaImage16& image : {Mixed(700, 250), Mixed(1, 70000), Mixed(2500, 1), Noise(300)})
        for (const ImageLayout layout : kLayouts) {
            const std::string where = std::to_string(image.width) + " x " + std::to_string(image.height) + ", " +
                                      std::to_string(SamplesPerPixel(layout.channels)) + " x " +
                                      std::to_string(layout.bitDepth) + " bits";
            encoded(image, layout, 0);
            const RgbaImage16 single = Read16(path);
            const std::string bytes = encoded(image, layout, 1);
            EXPECT_EQ(Read16(path).pixels, single.pixels) << where;
            EXPECT_EQ(single.pixels, AsWritten(image, layout).pixels) << where;
            for (int threads : {2, 3, 7}) EXPECT_TRUE(encoded(image, layout, threads) == bytes) << where << ", " << threads;
        }
}

// TIFF strips and OpenEXR blocks coded side by side land as one thread
// writes them.
TEST(ImageFiles, TiffAndExrBytesAreTheSameOnAnyThreadCount)
{
    ScratchDir dir;
    const RgbaImage16 image = Noise(300);
    for (const char* name : {"map.tif", "map.exr"}) {
        const auto bytes = [&](int threads) {
            EXPECT_TRUE(Attempt([&] { WriteImageFile(dir / name, 300, 300, image.pixels, threads); }).ok) << name;
            return ReadAll(dir / name);
        };
        const std::string one = bytes(1);
        for (int threads : {2, 7}) EXPECT_TRUE(bytes(threads) == one) << name << ", " << threads << " threads";
    }
}

// Every format in every layout it takes reads back as the image in that
// layout; OpenEXR, whose halves round, as its RGBA file of the image does.
TEST(ImageFiles, LayoutsReadBackAsTheirChannels)
{
    ScratchDir dir;
    const RgbaImage16 image = EdgeLevels();
    for (const char* name : {"map.png", "map.tif", "map.exr"})
        for (const ImageLayout layout : kLayouts) {
            const std::string path = dir / name;
            const bool exr = ImageFormatOf(path) == ImageFormat::kExr;
            const ImageAttempt written =
                Attempt([&] { WriteImageFile(path, image.width, image.height, image.pixels, 2, layout); });
            const std::string where = std::string(name) + ", " + std::to_string(layout.bitDepth) + " bits";
            if (exr && layout.bitDepth == 8) {
                EXPECT_FALSE(written.ok) << where;
                EXPECT_NE(written.error.find(path), std::string::npos) << written.error;
                continue;
            }
            ASSERT_TRUE(written.ok) << where << ": " << written.error;
            RgbaImage16 expected = AsWritten(image, layout);
            if (exr) {
                ASSERT_TRUE(Write(dir / "rgba.exr", expected).ok);
                expected = Read16(dir / "rgba.exr");
            }
            EXPECT_EQ(Read16(path).pixels, expected.pixels) << where;
        }
}

TEST(ImageFiles, HalfGreyKeepsItsLevel)
{
    // A map value of 0.5 is level 32767: exact in PNG and TIFF, 0.5 in OpenEXR.
    ScratchDir dir;
    const RgbaImage16 grey{2, 2, std::vector<BMM_Color_64>(4, {32767, 32767, 32767, 65535})};
    for (const char* name : {"grey.png", "grey.tif", "grey.exr"}) ASSERT_TRUE(Write(dir / name, grey).ok) << name;
    EXPECT_EQ(Read16(dir / "grey.png").pixels, grey.pixels);
    EXPECT_EQ(Read16(dir / "grey.tif").pixels, grey.pixels);
    RgbaImageFloat exr;
    ASSERT_TRUE(ReadImageFileFloat(dir / "grey.exr", exr).ok);
    EXPECT_EQ(exr.pixels[3].g, 0.5f);
    EXPECT_EQ(exr.pixels[3].a, 1.0f);
}

TEST(ImageFiles, ExtensionChoosesTheFormat)
{
    EXPECT_EQ(ImageFormatOf("a/b.PNG"), ImageFormat::kPng);
    EXPECT_EQ(ImageFormatOf("b.TiFf"), ImageFormat::kTiff);
    EXPECT_EQ(ImageFormatOf("c.exr"), ImageFormat::kExr);
    for (const char* path : {"a.jpg", "png", ".png", "dir.png/map", "map.png.bak", "map.", ""})
        EXPECT_FALSE(IsSupportedImagePath(path)) << path;
}

TEST(ImageFiles, UnknownExtensionIsRefusedBeforeAnyFile)
{
    ScratchDir dir;
    const ImageAttempt result = Write(dir / "map.jpg", EdgeLevels());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(dir / "map.jpg"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find(".exr"), std::string::npos) << result.error;
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(ImageFiles, MissingDirectoryNamesTheFile)
{
    ScratchDir dir;
    const std::string path = dir / "missing/map.tif";
    const ImageAttempt result = Write(path, EdgeLevels());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(ImageFiles, ReadOnlyDirectoryNamesTheFileAndLeavesNothing)
{
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: directory permissions do not stop a write";
    ScratchDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0500), 0);
    const ImageAttempt result = Write(dir / "map.png", EdgeLevels());
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(dir / "map.png"), std::string::npos) << result.error;
    EXPECT_TRUE(dir.Entries().empty());
}

// Lowers the file size limit for its lifetime. SIGXFSZ is ignored, so a
// write past the limit fails with EFBIG instead of ending the process: a real
// mid-file failure, even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = bytes;
        ok_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }
    bool ok() const { return ok_; }

private:
    rlimit saved_{};
    bool ok_ = false;
};

class FailedWrites : public testing::TestWithParam<const char*> {};

TEST_P(FailedWrites, KeepTheExistingFileAndLeaveNoTemporary)
{
    ScratchDir dir;
    const std::string path = dir / GetParam();
    const RgbaImage16 good = EdgeLevels();
    ASSERT_TRUE(Write(path, good).ok);
    const RgbaImage16 before = Read16(path);
    ImageAttempt result;
    {
        FileSizeLimit limit(16 * 1024);
        ASSERT_TRUE(limit.ok());
        result = Write(path, Noise());
    }
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    EXPECT_EQ(Read16(path).pixels, before.pixels);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{GetParam()});
}

INSTANTIATE_TEST_SUITE_P(ImageFiles, FailedWrites, testing::Values("map.png", "map.tif", "map.exr"));

TEST(ImageFiles, FailedRenameRemovesTheTemporary)
{
    ScratchDir dir;
    const std::string path = dir / "map.png";
    ASSERT_TRUE(std::filesystem::create_directory(path));
    const ImageAttempt result = Write(path, EdgeLevels());
    EXPECT_FALSE(result.ok);
    EXPECT_NE(result.error.find(path), std::string::npos) << result.error;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"map.png"});
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

TEST(ImageFiles, ReplacingKeepsThePermissions)
{
    ScratchDir dir;
    const std::string path = dir / "map.tif";
    ASSERT_TRUE(Write(path, Noise(8)).ok);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    const RgbaImage16 image = EdgeLevels();
    ASSERT_TRUE(Write(path, image).ok);
    EXPECT_EQ(Read16(path).pixels, image.pixels);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"map.tif"});
}

TEST(ImageFiles, DamagedFilesAreReadErrorsNamingTheFile)
{
    ScratchDir dir;
    for (const char* name : {"map.png", "map.tif", "map.exr"}) {
        const std::string path = dir / name;
        ASSERT_TRUE(Write(path, Noise(64)).ok);
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        RgbaImage16 image;
        const ImageFileResult read = ReadImageFile16(path, image);
        EXPECT_FALSE(read.ok) << name;
        EXPECT_NE(read.error.find(path), std::string::npos) << read.error;
    }
    std::ofstream(dir / "text.png") << "not an image at all";
    RgbaImage16 image;
    EXPECT_FALSE(ReadImageFile16(dir / "text.png", image).ok);
    EXPECT_FALSE(ReadImageFile16(dir / "absent.tif", image).ok);
}

}  // namespace
