#include "cancel_bench.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRuns = 3;
// Long enough for the workers to be well into the map, far short of its end.
constexpr auto kCancelAfter = std::chrono::seconds(3);

// Milliseconds from SIGINT to the command's exit; it must end by the signal.
double CancelOnce(const std::string& program, const std::vector<std::string>& args)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) throw std::runtime_error("cannot start " + program);
    std::this_thread::sleep_for(kCancelAfter);
    kill(pid, SIGINT);
    const auto sent = Clock::now();
    int status = 0;
    waitpid(pid, &status, 0);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGINT)
        throw std::runtime_error("a cancelled bake did not end by its signal (it may have finished first)");
    return ms;
}

std::string Milliseconds(double ms)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", ms);
    return buf;
}

}  // namespace

std::string MeasureCancelLatency(const std::string& dunsmere, const std::string& mesh, const std::string& workDir)
{
    const fs::path work = workDir;
    const std::string png = (work / "cancel-bench.png").string();
    const std::string config = (work / "cancel-config").string();
    std::fprintf(stderr, "bench: Ctrl-C during a 4096 x 4096 map at supersample 8 and at 1\n");
    std::vector<double> ms[2];
    for (int i = 0; i < kRuns; ++i)
        for (int k = 0; k < 2; ++k)
            ms[k].push_back(CancelOnce(dunsmere, {mesh, "--config-dir", config, "--no-save-settings", "--quiet",
                                                  "--save-partial", "no", "--algorithm", "uv-map", "--size",
                                                  "4096x4096", "--supersample", k == 0 ? "8" : "1", "-o", png}));
    std::ostringstream s;
    s << "\n## Cancel\n\n"
      << "SIGINT " << std::chrono::duration<double>(kCancelAfter).count() << " s into a 4096 x 4096 map of "
      << fs::path(mesh).filename().string() << ", answered No to the partial map; milliseconds from the signal to the "
      << "command's exit, " << kRuns << " runs each, taking turns.\n\n"
      << "| map | runs, ms | slowest, ms |\n|---|---|---:|\n";
    for (int k = 0; k < 2; ++k) {
        s << "| supersample " << (k == 0 ? 8 : 1) << " |";
        for (const double v : ms[k]) s << " " << Milliseconds(v);
        s << " | " << Milliseconds(*std::max_element(ms[k].begin(), ms[k].end())) << " |\n";
    }
    return s.str();
}
