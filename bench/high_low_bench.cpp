#include "high_low_bench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "command_run.h"
#include "high_low_pair.h"

namespace fs = std::filesystem;

namespace {

// Bakes and readings, taking turns: median time, highest peak.
constexpr int kRuns = 3;
constexpr double kGoalSeconds = 8.0, kGoalMiB = 1024.0;

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Verdict(bool met) { return met ? "met" : "**not met**"; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string ReadAll(const fs::path& path)
{
    std::ifstream in(path);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// The count KEY gives in the projection object of the command's --json
// output; -1 when it gives none.
long long ProjectionCount(const std::string& json, const std::string& key)
{
    const size_t projection = json.find("\"projection\"");
    if (projection == std::string::npos) return -1;
    const size_t at = json.find("\"" + key + "\"", projection);
    const size_t colon = at == std::string::npos ? at : json.find(':', at);
    if (colon == std::string::npos) return -1;
    return std::strtoll(json.c_str() + colon + 1, nullptr, 10);
}

// The option parser's answer to an option it does not know.
bool LacksHigh(const CommandRun& run)
{
    return run.status == 2 && (run.err.find("not expected: --high") != std::string::npos ||
                               run.err.find("--high: did you mean") != std::string::npos);
}

}  // namespace

std::string MeasureHighToLow(const std::string& dunsmere, const std::string& workDir)
{
    const fs::path work = workDir;
    std::fprintf(stderr, "bench: high to low, writing the pair\n");
    const auto start = std::chrono::steady_clock::now();
    const HighLowPair pair = WriteHighLowPair(work.string());
    const double pairSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const fs::path err = work / "high-low.err", json = work / "high-low.json";
    const std::vector<std::string> bake{pair.low, "--high", pair.high, "-o", (work / "high-low.png").string(),
                                        "--size", "1024x1024", "--threads", "2",
                                        "--config-dir", (work / "command-config").string(),
                                        "--defaults", "--quiet", "--json"};
    std::vector<double> bakeSeconds, readSeconds;
    double bakePeak = 0.0, readPeak = 0.0;
    std::map<std::string, std::vector<double>> phases;
    std::vector<std::string> phaseOrder;
    std::string skipped;
    std::fprintf(stderr, "bench: high to low, %d bakes and readings of the high mesh\n", kRuns);
    for (int i = 0; i < kRuns; ++i) {
        const CommandRun read = RunCommand(dunsmere, {"info", "--quiet", pair.high}, err, false);
        if (read.status != 0)
            throw std::runtime_error("dunsmere info of " + pair.high + " failed: " + FirstLine(read.err));
        readSeconds.push_back(read.seconds);
        readPeak = std::max(readPeak, read.peakMiB);
        if (!skipped.empty()) continue;
        const CommandRun r = RunCommand(dunsmere, bake, err, true, json);
        if (LacksHigh(r)) skipped = "skipped: the command has no --high";
        else if (r.status != 0) skipped = "failed (status " + std::to_string(r.status) + "): " + FirstLine(r.err);
        if (!skipped.empty()) {
            std::fprintf(stderr, "bench: high to low %s\n", skipped.c_str());
            continue;
        }
        bakeSeconds.push_back(r.seconds);
        bakePeak = std::max(bakePeak, r.peakMiB);
        if (phaseOrder.empty()) phaseOrder = r.phaseOrder;
        double inside = 0.0;
        for (const auto& [name, seconds] : r.phases) {
            phases[name].push_back(seconds);
            inside += seconds;
        }
        phases["process start and exit"].push_back(r.seconds - inside);
    }
    phaseOrder.push_back("process start and exit");

    const auto peak = [](double mib) { return mib > 0.0 ? Format("%.0f", mib) : std::string("n/a"); };
    const double read = Median(readSeconds);
    std::ostringstream s;
    s << "\n" << kHighToLowHeading << " (the bench pair, start to exit)\n\n"
      << "The pair: a low torus of " << pair.lowFaces << " triangles with one UV chart over the map, and a high mesh "
      << "of " << pair.highFaces << " triangles, the low cut 10 x 10 per face and pushed along its averaged normals "
      << "by at most 1% of its diagonal; OBJ files of " << Format("%.1f", fs::file_size(pair.low) / 1e6) << " MB and "
      << Format("%.1f", fs::file_size(pair.high) / 1e6) << " MB, written by the bench in "
      << Format("%.1f", pairSeconds) << " s. The bake: `dunsmere LOW --high HIGH --size 1024x1024 --threads 2`, "
      << "the defaults otherwise; the reading: `dunsmere info HIGH`. " << kRuns
      << " runs each, taking turns: median time, highest peak memory (the command's, or a child's above it).\n\n"
      << "| run | wall, s | peak, MiB |\n|---|---:|---:|\n"
      << "| reading the high mesh alone (info) | " << Format("%.2f", read) << " | " << peak(readPeak) << " |\n";
    if (!skipped.empty()) {
        s << "| bake, map 1024 | " << skipped << " | |\n";
        return s.str();
    }
    const double wall = Median(bakeSeconds);
    const std::string answer = ReadAll(json);
    const long long samples = ProjectionCount(answer, "samples"), missed = ProjectionCount(answer, "missed");
    s << "| bake, map 1024 | " << Format("%.2f", wall) << " | " << peak(bakePeak) << " |\n\n"
      << "| bake's phase | median, s |\n|---|---:|\n";
    for (const std::string& name : phaseOrder)
        s << "| " << name << " | " << Format("%.3f", Median(phases[name])) << " |\n";
    s << "\n- 1024 x 1024 map from the high mesh, 2 threads: " << Format("%.2f", wall) << " s (goal "
      << Format("%.0f", kGoalSeconds) << " s: " << Verdict(wall <= kGoalSeconds) << "), peak " << peak(bakePeak)
      << " MiB (goal " << Format("%.0f", kGoalMiB) << " MiB: " << Verdict(bakePeak > 0.0 && bakePeak <= kGoalMiB)
      << ").\n- Missed samples at the default distances: ";
    if (missed < 0) s << "n/a (the command's --json gives no projection counts).\n";
    else s << missed << " of " << samples << " (goal none: " << Verdict(missed == 0) << ").\n";
    return s.str();
}

void PutHighToLowSection(const std::string& results, const std::string& section)
{
    std::string text = ReadAll(results);
    const size_t at = text.find(std::string("\n") + kHighToLowHeading);
    if (at == std::string::npos) {
        text += section;
    } else {
        // The section begins with the empty line before its heading; the
        // next one's empty line is put back after it.
        const size_t end = std::min(text.find("\n## ", at + 1), text.find("\n<!--", at + 1));
        if (end == std::string::npos) text.replace(at, end, section);
        else text.replace(at, end + 1 - at, section + "\n");
    }
    if (!(std::ofstream(results) << text)) throw std::runtime_error("cannot write " + results);
}
