#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "app/image/file_bitmaps.h"
#include "app/image/image_files.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

BitmapInfo MapInfo(WORD width, WORD height)
{
    BitmapInfo info;
    info.SetWidth(width);
    info.SetHeight(height);
    info.SetType(BMM_TRUE_64);
    info.SetFlags(MAP_HAS_ALPHA);
    return info;
}

TEST(ImageFileBitmaps, BakeSequenceWritesTheChosenFile)
{
    ScratchDir dir;
    const std::string path = dir / "smurl.tif";
    FileBitmapManager manager(path);
    BitmapInfo info = MapInfo(5, 4);
    Bitmap* map = manager.Create(&info);
    ASSERT_NE(map, nullptr);
    std::vector<BMM_Color_64> expected;
    for (int y = 0; y < 4; ++y) {
        std::vector<BMM_Color_64> row;
        for (int x = 0; x < 5; ++x) {
            const WORD v = static_cast<WORD>(x * 13000 + y * 50);
            row.push_back({v, v, v, 65535});
        }
        ASSERT_NE(map->PutPixels(0, y, 5, row.data()), 0);
        expected.insert(expected.end(), row.begin(), row.end());
    }
    ASSERT_EQ(manager.SelectFileOutput(&info, nullptr, "Save the map"), 1);
    EXPECT_EQ(info.Name(), path);
    EXPECT_EQ(map->OpenOutput(&info), BMMRES_SUCCESS);
    EXPECT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_SUCCESS);
    EXPECT_EQ(map->Close(&info), BMMRES_SUCCESS);
    map->DeleteThis();

    EXPECT_TRUE(manager.Written());
    EXPECT_EQ(manager.WrittenPath(), path);
    EXPECT_EQ(manager.Error(), "");
    RgbaImage16 back;
    ASSERT_TRUE(ReadImageFile16(path, back).ok);
    EXPECT_EQ(back.width, 5);
    EXPECT_EQ(back.pixels, expected);
}

TEST(ImageFileBitmaps, WithoutAnOutputPathNothingIsChosenOrWritten)
{
    FileBitmapManager manager("");
    BitmapInfo info = MapInfo(2, 2);
    EXPECT_EQ(manager.SelectFileOutput(&info, nullptr), 0);
    EXPECT_EQ(info.Name(), "");
    Bitmap* map = manager.Create(&info);
    ASSERT_NE(map, nullptr);
    EXPECT_EQ(map->OpenOutput(&info), BMMRES_ERRORTAKENCARE);
    EXPECT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_ERRORTAKENCARE);
    map->DeleteThis();
    EXPECT_FALSE(manager.Written());
    EXPECT_NE(manager.Error(), "");
}

TEST(ImageFileBitmaps, UnknownExtensionIsRefusedAtOpen)
{
    ScratchDir dir;
    FileBitmapManager manager(dir / "map.bmp");
    BitmapInfo info = MapInfo(2, 2);
    ASSERT_EQ(manager.SelectFileOutput(&info, nullptr), 1);
    Bitmap* map = manager.Create(&info);
    EXPECT_EQ(map->OpenOutput(&info), BMMRES_ERRORTAKENCARE);
    EXPECT_NE(manager.Error().find(dir / "map.bmp"), std::string::npos) << manager.Error();
    EXPECT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_ERRORTAKENCARE);
    map->DeleteThis();
    EXPECT_TRUE(dir.Entries().empty());
}

TEST(ImageFileBitmaps, FailureAfterASuccessMeansNotWritten)
{
    ScratchDir dir;
    FileBitmapManager manager(dir / "map.png");
    BitmapInfo info = MapInfo(3, 1);
    Bitmap* map = manager.Create(&info);
    manager.SelectFileOutput(&info, nullptr);
    ASSERT_EQ(map->OpenOutput(&info), BMMRES_SUCCESS);
    ASSERT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_SUCCESS);
    info.SetName(dir / "missing/map.png");
    EXPECT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_ERRORTAKENCARE);
    map->DeleteThis();
    EXPECT_FALSE(manager.Written());
    EXPECT_EQ(manager.WrittenPath(), dir / "map.png");
    EXPECT_NE(manager.Error().find(dir / "missing/map.png"), std::string::npos) << manager.Error();
}

// Unset channels follow the format and coverage alpha; given ones are kept.
TEST(ImageFileBitmaps, WriteLayoutFollowsTheFormatAndCoverage)
{
    using enum ImageChannels;
    const struct {
        std::optional<ImageChannels> channels;
        bool coverage;
        const char* path;
        ImageChannels expected;
    } cases[] = {{std::nullopt, false, "m.png", kGrey}, {std::nullopt, true, "m.TIF", kGreyAlpha},
                 {std::nullopt, true, "m.exr", kRgba},  {kRgba, false, "m.png", kRgba},
                 {kGrey, true, "m.exr", kGrey}};
    FileBitmapManager manager("");
    EXPECT_EQ(manager.WriteLayout("m.png").channels, kRgba);
    for (const auto& c : cases) {
        manager.SetWriteLayout(c.channels, 8, c.coverage);
        EXPECT_EQ(manager.WriteLayout(c.path).channels, c.expected) << c.path;
        EXPECT_EQ(manager.WriteLayout(c.path).bitDepth, 8) << c.path;
    }
}

// An 8-bit map's levels are those its file holds.
TEST(ImageFileBitmaps, EightBitLevelsAreTheFilesOwn)
{
    ScratchDir dir;
    FileBitmapManager manager(dir / "m.png");
    manager.SetWriteLayout(std::nullopt, 8, false);
    BitmapInfo info = MapInfo(3, 1);
    Bitmap* map = manager.Create(&info);
    const BMM_Color_64 row[3] = {{128, 128, 128, 65535}, {40000, 40000, 40000, 65535}, {65535, 65535, 65535, 65535}};
    ASSERT_NE(map->PutPixels(0, 0, 3, row), 0);
    manager.SelectFileOutput(&info, nullptr);
    ASSERT_EQ(map->OpenOutput(&info), BMMRES_SUCCESS);
    ASSERT_EQ(map->Write(&info, BMM_SINGLEFRAME), BMMRES_SUCCESS);
    map->DeleteThis();
    RgbaImage16 back;
    ASSERT_TRUE(ReadImageFile16(dir / "m.png", back).ok);
    const FileBitmapManager::Levels& levels = manager.WrittenLevels();
    EXPECT_EQ(levels.min, back.pixels[0].r);
    EXPECT_EQ(levels.max, back.pixels[2].r);
    EXPECT_DOUBLE_EQ(levels.mean, (back.pixels[0].r + back.pixels[1].r + back.pixels[2].r) / 3.0);
    EXPECT_EQ(back.pixels[1].r, 156 * 257);  // 40000 x 255 / 65535 is 155.6
}

}  // namespace
