#include <gtest/gtest.h>

#include <cstdint>

#include "check_recorder.h"
#include "geom/barray.h"

using namespace dunsmere;

namespace {

TEST(BArray, ResizeKeepsOverlapAndFillsTheRest)
{
    BArray<int> a;
    EXPECT_EQ(a.OuterCount(), 0u);
    a.Resize(3, 2, 7);
    ASSERT_EQ(a.OuterCount(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(a.InnerCount(i), 2u);
        EXPECT_EQ(a.Get(i, 0), 7);
        EXPECT_EQ(a.Get(i, 1), 7);
    }
    a.Set(0, 0, 1);
    a.Set(0, 1, 2);
    a.Set(1, 0, 3);
    a.Set(1, 1, 4);
    a.Resize(2, 4, 9);
    ASSERT_EQ(a.OuterCount(), 2u);
    EXPECT_EQ(a.Get(0, 0), 1);
    EXPECT_EQ(a.Get(0, 1), 2);
    EXPECT_EQ(a.Get(1, 0), 3);
    EXPECT_EQ(a.Get(1, 1), 4);
    for (std::uint32_t i = 0; i < 2; ++i)
        for (std::uint32_t j = 2; j < 4; ++j) EXPECT_EQ(a.Get(i, j), 9);
    a.Fill(5);
    EXPECT_EQ(a.Get(1, 3), 5);
    EXPECT_EQ(a.Get(0, 0), 5);
    // Reset keeps nothing of what was there, whether the size grows or shrinks.
    a.Set(0, 1, 6);
    a.Reset(3, 2, 7);
    ASSERT_EQ(a.OuterCount(), 3u);
    for (std::uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(a.InnerCount(i), 2u);
        for (std::uint32_t j = 0; j < 2; ++j) EXPECT_EQ(a.Get(i, j), 7);
    }
}

TEST(BArray, ChecksReportTheirLinesInOrderAndSkipTheAccess)
{
    CheckRecorder checks;
    BArray<float> a;
    a.Resize(2, 3, 1.5f);
    const std::uint32_t outer = a.OuterCount(), inner = a.InnerCount(0);

    a.Get(outer, 0) = 42.0f;  // lands in scratch, not in the array
    a.Get(0, inner);
    a.Set(outer, 0, 42.0f);
    a.Set(0, inner, 42.0f);
    a.Get(static_cast<std::uint32_t>(-1), 0);
    a.Get(static_cast<std::uint32_t>(-1), static_cast<std::uint32_t>(-1));  // outer check only

    const std::vector<CheckReport> expected{{143, "BArray"}, {144, "BArray"}, {132, "BArray"},
                                            {133, "BArray"}, {143, "BArray"}, {143, "BArray"}};
    EXPECT_EQ(checks.Take(), expected);
    for (std::uint32_t i = 0; i < outer; ++i)
        for (std::uint32_t j = 0; j < inner; ++j) EXPECT_EQ(a.Get(i, j), 1.5f);
    // A read after a failed check never sees a value written to the scratch.
    EXPECT_EQ(a.Get(outer, 0), 0.0f);
}

TEST(BArray, InnerCheckUsesThatInnerArray)
{
    CheckRecorder checks;
    BArray<int> a;
    a.Resize(2, 3, 0);
    a.Get(1, 2) = 8;
    EXPECT_EQ(a.Get(1, 2), 8);
    EXPECT_TRUE(checks.Take().empty());
}

TEST(BArray1D, ResizeGrowsWithFillAndShrinksTail)
{
    BArray1D<std::uint8_t> flags;
    EXPECT_EQ(flags.Count(), 0u);
    flags.Resize(2, 1);
    flags[0] = 0;
    flags.Resize(4, 3);
    EXPECT_EQ(flags[0], 0);
    EXPECT_EQ(flags[1], 1);
    EXPECT_EQ(flags[3], 3);
    flags.Resize(1, 9);
    EXPECT_EQ(flags.Count(), 1u);
    EXPECT_EQ(flags[0], 0);
}

}  // namespace
