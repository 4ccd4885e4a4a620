#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "image_attempt.h"
#include "host/temporary_files.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

std::string Touch(const ScratchDir& dir, const std::string& name)
{
    const std::string path = dir / name;
    std::ofstream(path) << "partial";
    return path;
}

TEST(ImageTemporaryFiles, RemovesOnlyWhatIsStillRemembered)
{
    ScratchDir dir;
    const int kept = RememberTemporaryFile(Touch(dir, "a.tmp").c_str());
    const int forgotten = RememberTemporaryFile(Touch(dir, "b.tmp").c_str());
    ASSERT_GE(kept, 0);
    ASSERT_GE(forgotten, 0);
    ASSERT_NE(kept, forgotten);
    ForgetTemporaryFile(forgotten);
    RemoveTemporaryFiles();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"b.tmp"});
    ForgetTemporaryFile(kept);
}

TEST(ImageTemporaryFiles, TableIsFixedAndSlotsComeBack)
{
    ScratchDir dir;
    std::vector<int> slots;
    for (int i = 0; i < kTemporarySlots; ++i) slots.push_back(RememberTemporaryFile((dir / std::to_string(i)).c_str()));
    for (const int slot : slots) EXPECT_GE(slot, 0);
    EXPECT_EQ(RememberTemporaryFile((dir / "one-too-many").c_str()), -1);

    // A write goes on without a slot.
    const BMM_Color_64 pixel{1, 2, 3, 4};
    EXPECT_TRUE(Attempt([&] { WriteImageFile(dir / "map.png", 1, 1, {&pixel, 1}); }).ok);

    ForgetTemporaryFile(slots.back());
    const int again = RememberTemporaryFile((dir / "again").c_str());
    EXPECT_EQ(again, slots.back());
    slots.back() = again;
    for (const int slot : slots) ForgetTemporaryFile(slot);
}

TEST(ImageTemporaryFiles, WritesGiveBackTheirSlots)
{
    ScratchDir dir;
    const BMM_Color_64 pixel{1, 2, 3, 4};
    ASSERT_TRUE(std::filesystem::create_directory(dir / "taken.exr"));
    for (int i = 0; i < 2 * kTemporarySlots; ++i) {
        EXPECT_TRUE(Attempt([&] { WriteImageFile(dir / "map.exr", 1, 1, {&pixel, 1}); }).ok);
        EXPECT_FALSE(Attempt([&] { WriteImageFile(dir / "taken.exr", 1, 1, {&pixel, 1}); }).ok);  // fails at the rename
    }
    std::vector<int> slots;
    for (int i = 0; i < kTemporarySlots; ++i) slots.push_back(RememberTemporaryFile((dir / "x").c_str()));
    for (const int slot : slots) EXPECT_GE(slot, 0);
    for (const int slot : slots) ForgetTemporaryFile(slot);
}

}  // namespace
