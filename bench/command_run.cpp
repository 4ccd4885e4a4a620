#include "command_run.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// This process's own peak, in KiB.
double PeakKiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6));
    return 0.0;
}

}  // namespace

CommandRun RunCommand(const std::string& program, std::vector<std::string> args, const fs::path& errFile,
                      bool timings, const fs::path& outFile)
{
    if (timings) args.push_back("--timings");
    CommandRun run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.empty() ? "/dev/null" : outFile.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // wait4's peak starts from this process's own: the spawn's exec carries
    // it over. Above it, the peak is the command's or a child's it waited for.
    const double floorKiB = PeakKiB();
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double waitedKiB = static_cast<double>(usage.ru_maxrss);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);

    std::ifstream err(errFile);
    std::ostringstream all;
    all << err.rdbuf();
    run.err = all.str();
    std::istringstream lines(run.err);
    double ownKiB = 0.0;
    const std::string mark = "dunsmere: timings:", peak = "dunsmere: peak memory:";
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(peak, 0) == 0) ownKiB = std::stod(line.substr(peak.size()));
        if (line.rfind(mark, 0) != 0) continue;
        std::istringstream parts(line.substr(mark.size()));
        for (std::string part; std::getline(parts, part, ',');) {
            std::istringstream p(part);
            std::string name;
            double seconds = 0.0;
            if (!(p >> name >> seconds)) continue;
            if (!run.phases.count(name)) run.phaseOrder.push_back(name);
            run.phases[name] = seconds;
        }
    }
    run.peakMiB = std::max(ownKiB, waitedKiB > floorKiB ? waitedKiB : 0.0) / 1024.0;
    return run;
}

double Median(std::vector<double> v)
{
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}
