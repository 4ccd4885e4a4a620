// The command's progress bar, on a clock of the test's own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/command/progress.h"

namespace {

using Clock = ProgressBar::Clock;
Clock::time_point gNow;
Clock::time_point Now() { return gNow; }

// A rasterizing's 100000 updates, 7 us apart, to 99 %; then the run ends
// one of three ways.
TEST(ProgressBar, ATerminalRedrawsTenTimesASecondAndEveryRunEndsWhereItStood)
{
    enum Ending { kEnd, kComplete, kCancel };
    struct Case {
        bool terminal;
        Ending ending;
        std::size_t draws;
        const char* last;
    };
    const Case cases[] = {
        {true, kEnd, 8, " 99%  0:01 elapsed, 0:00 left\n"},  // the held 99 % drawn as the phase ends
        {true, kComplete, 8, "100%  0:01 elapsed, 0:00 left\n"},
        {true, kCancel, 8, " 99%  0:01 elapsed, cancelled\n"},
        {false, kEnd, 10, "Building Smurl Map: Rasterizing  90%  0:01 elapsed, 0:00 left\n"},
        {false, kComplete, 11, "Building Smurl Map: Rasterizing 100%  0:01 elapsed, 0:00 left\n"},
        {false, kCancel, 11, "Building Smurl Map: Rasterizing  99%  0:01 elapsed, cancelled\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.terminal << " " << c.ending);
        char* data = nullptr;
        std::size_t size = 0;
        std::FILE* out = open_memstream(&data, &size);
        ASSERT_NE(out, nullptr);
        gNow = Clock::time_point{};
        ProgressBar bar(out, c.terminal, false, &Now);
        bar.Start("Building Smurl Map");
        bar.Phase("Rasterizing");
        for (int i = 1; i <= 100000; ++i) {
            gNow += std::chrono::microseconds(7);
            bar.Update(i / 1001);
        }
        if (c.ending == kComplete) bar.Complete();
        if (c.ending == kCancel) bar.Cancelled();
        bar.End();
        if (c.ending != kEnd) bar.Complete();  // says nothing more
        std::fclose(out);
        const std::string text(data, size);
        std::free(data);

        const std::string mark = c.terminal ? "\r\033[K" : "\n";
        std::size_t draws = 0;
        for (std::size_t at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) ++draws;
        EXPECT_EQ(draws, c.draws) << text.size() << " bytes";
        const std::size_t lastLine = c.terminal ? text.rfind(mark) : text.rfind('\n', text.size() - 2) + 1;
        EXPECT_TRUE(text.ends_with(c.last)) << text.substr(lastLine);
    }
}

}  // namespace
