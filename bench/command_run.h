// One run of the command from start to exit, as the whole-bake benches time
// it: the wall clock, the peak resident memory, and the phases of its
// --timings line.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct CommandRun {
    double seconds = 0.0;
    // The command's own peak, or a higher one wait4 saw (an import child's):
    // 0 when neither is known.
    double peakMiB = 0.0;
    int status = -1;
    std::map<std::string, double> phases;  // from --timings
    std::vector<std::string> phaseOrder;   // their names as the line gives them
    std::string err;                       // all it wrote on stderr
};

// Runs PROGRAM with ARGS, adding --timings when TIMINGS. Its stdout goes to
// OUT_FILE (/dev/null when empty), its stderr to ERR_FILE, which is read
// back after it ends.
CommandRun RunCommand(const std::string& program, std::vector<std::string> args,
                      const std::filesystem::path& errFile, bool timings = true,
                      const std::filesystem::path& outFile = {});

double Median(std::vector<double> v);
