// The pinned bake at the defaults in every layout a map file takes: each
// decodes to the levels of the default file, which the pins hold, or, at 8
// bits, to those levels rounded.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "command_runner.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

TEST(MapChannels, EveryLayoutDecodesToThePinnedLevels)
{
    ScratchDir scratch;
    const auto bake = [&](const std::string& name, std::vector<std::string> args) {
        args.insert(args.begin(), {DUNSMERE_EXAMPLES "/crate.obj", "--config-dir", scratch / "config", "-q",
                                   "--threads", "3", "-o", scratch / name});
        const CommandResult r = RunProgram(DUNSMERE_COMMAND, args);
        EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        RgbaImage16 image;
        const ImageFileResult read = ReadImageFile16(scratch / name, image);
        EXPECT_TRUE(read.ok) << read.error;
        return image.pixels;
    };
    const std::vector<BMM_Color_64> pinned = bake("grey.png", {});
    ASSERT_FALSE(pinned.empty());
    const std::vector<BMM_Color_64> covered = bake("rgba.tif", {"--channels", "rgba", "--coverage-alpha"});
    ASSERT_EQ(covered.size(), pinned.size());
    std::vector<BMM_Color_64> rounded = pinned;
    for (BMM_Color_64& p : rounded) p.r = p.g = p.b = static_cast<WORD>(Level8(p.r) * 257);
    EXPECT_EQ(bake("rgba.png", {"--channels", "rgba"}), pinned);
    EXPECT_EQ(bake("grey.tif", {"--channels", "grey", "--coverage-alpha"}), pinned);
    EXPECT_EQ(bake("grey-8.png", {"--bit-depth", "8"}), rounded);
    EXPECT_EQ(bake("grey-8.tif", {"--bit-depth", "8", "--channels", "grey-alpha"}), rounded);
    EXPECT_EQ(bake("coverage.png", {"--coverage-alpha"}), covered);
    // Coverage at 8 bits rounds alpha as it rounds grey.
    std::vector<BMM_Color_64> coverage8 = covered;
    for (BMM_Color_64& p : coverage8) {
        p.r = p.g = p.b = static_cast<WORD>(Level8(p.r) * 257);
        p.a = static_cast<WORD>(Level8(p.a) * 257);
    }
    EXPECT_EQ(bake("coverage-8.png", {"--coverage-alpha", "--bit-depth", "8"}), coverage8);

    const CommandResult exr = RunProgram(DUNSMERE_COMMAND, {DUNSMERE_EXAMPLES "/crate.obj", "--bit-depth", "8", "-o",
                                                            scratch / "m.exr", "--config-dir", scratch / "config"});
    EXPECT_EQ(exr.status, 2);
    EXPECT_NE(exr.err.find("--bit-depth 8"), std::string::npos) << exr.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "m.exr"));
}

}  // namespace
