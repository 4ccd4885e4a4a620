// The session's map file in the command's layouts: an 8-bit grey file holds
// the map kept in memory, each level rounded as the command rounds it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "app/session/session.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

TEST(SessionLayout, AnEightBitFileIsTheKeptMapRounded)
{
    ScratchDir scratch;
    BakeSession session;
    session.AddMeshFile(DUNSMERE_EXAMPLES "/crate.obj");
    session.Type("width", 64);
    session.Type("height", 64);
    session.SetOutput(scratch / "grey8.png");
    session.SetImageLayout("grey", 8);
    const BakeOutcome baked = session.Generate();
    ASSERT_EQ(baked.end, BakeOutcome::End::kDone) << baked.error;
    RgbaImage16 image;
    ASSERT_TRUE(ReadImageFile16(scratch / "grey8.png", image).ok);
    ASSERT_EQ(image.pixels.size(), baked.map.levels.size());
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        ASSERT_EQ(image.pixels[i].r, Level8(baked.map.levels[i]) * 257) << i;

    EXPECT_THROW(session.SetImageLayout("gray", 16), SessionError);
    EXPECT_THROW(session.SetImageLayout("", 12), SessionError);
    session.SetOutput(scratch / "m.exr");
    EXPECT_THROW(session.Generate(), SessionError);
}

}  // namespace
