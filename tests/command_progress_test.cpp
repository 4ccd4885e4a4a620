// The command's progress bar, on a clock of the test's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command/progress.h"

using namespace dunsmere;

namespace {

ProgressBar::Clock::time_point gNow;

// A rasterizing's 100000 updates 7 us apart, up to 99 %; then the run ends
// (0), completes (1) or is cancelled (2). A terminal's draws each start "\r".
TEST(ProgressBar, ATerminalRedrawsTenTimesASecondAndEveryRunEndsWhereItStood)
{
    const struct { bool terminal; int ending; long draws; std::string last; } cases[] = {
        {true, 0, 8, " 99%  0:01 elapsed, 0:00 left\n"},  // the held 99 % drawn as the phase ends
        {true, 1, 8, "100%  0:01 elapsed, 0:00 left\n"},
        {true, 2, 8, " 99%  0:01 elapsed, cancelled\n"},
        {false, 0, 10, "Building Smurl Map: Rasterizing  90%  0:01 elapsed, 0:00 left\n"},
        {false, 2, 11, "Building Smurl Map: Rasterizing  99%  0:01 elapsed, cancelled\n"},
    };
    for (const auto& c : cases) {
        char* data = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&data, &size);
        gNow = {};
        ProgressBar bar(out, c.terminal, false, [] { return gNow; });
        bar.Start("Building Smurl Map");
        bar.Phase("Rasterizing");
        for (int i = 1; i <= 100000; ++i, gNow += std::chrono::microseconds(7)) bar.Update(i / 1001);
        c.ending == 1 ? bar.Complete() : c.ending == 2 ? bar.Cancelled() : void();
        bar.End();
        if (c.ending != 0) bar.Complete();  // says nothing more
        std::fclose(out);
        const std::string text(data, size);
        std::free(data);
        EXPECT_EQ(std::count(text.begin(), text.end(), c.terminal ? '\r' : '\n'), c.draws) << c.terminal << c.ending;
        EXPECT_TRUE(text.ends_with(c.last)) << text.substr(text.size() - 80);
    }
}

}  // namespace
