#include "command_bench.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "app/mesh/mesh_files.h"
#include "command_run.h"

using namespace dunsmere;

namespace fs = std::filesystem;

namespace {

// Runs of each side-by-side pair, and of the box.
constexpr int kPairs = 5;
constexpr int kBoxRuns = 15;
// The large maps, each a minute or less: this many runs each, taking turns.
constexpr int kLargeRuns = 3;

std::string Format(const char* format, double value)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string Verdict(bool met) { return met ? "met" : "**not met**"; }

// The share of the unit square the mesh's map channel 1 covers: its charts
// do not overlap, so the sum of the triangles' areas.
double UvCoverage(const std::string& path)
{
    const MeshFile file = ReadMeshFile(path);
    const Mesh& m = file.mesh;
    const UVVert* tv = m.mapVerts(1);
    const TVFace* tf = m.mapFaces(1);
    if (!tv || !tf) return 0.0;
    double area = 0.0;
    for (int f = 0; f < m.getNumFaces(); ++f) {
        const UVVert a = tv[tf[f].t[0]], b = tv[tf[f].t[1]], c = tv[tf[f].t[2]];
        const double ax = static_cast<double>(a.x), ay = static_cast<double>(a.y);
        const double bx = static_cast<double>(b.x), by = static_cast<double>(b.y);
        const double cx = static_cast<double>(c.x), cy = static_cast<double>(c.y);
        area += 0.5 * std::fabs((bx - ax) * (cy - ay) - (cx - ax) * (by - ay));
    }
    return area;
}

// A 12-triangle box with one UV square per side.
void WriteBox(const fs::path& path)
{
    std::ofstream out(path);
    out << "v -1 -1 -1\nv 1 -1 -1\nv 1 1 -1\nv -1 1 -1\nv -1 -1 1\nv 1 -1 1\nv 1 1 1\nv -1 1 1\n"
           "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
           "f 1/1 3/3 2/2\nf 1/1 4/4 3/3\nf 5/1 6/2 7/3\nf 5/1 7/3 8/4\nf 1/1 2/2 6/3\nf 1/1 6/3 5/4\n"
           "f 2/1 3/2 7/3\nf 2/1 7/3 6/4\nf 3/1 4/2 8/3\nf 3/1 8/3 7/4\nf 4/1 1/2 5/3\nf 4/1 5/3 8/4\n";
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

struct Pair {
    std::string what;
    std::vector<double> one, two, ratios;
};

}  // namespace

std::string MeasureCommandBakes(const std::string& dunsmere, const std::string& mesh100k, const std::string& workDir)
{
    const fs::path work = workDir;
    const fs::path err = work / "command-bench.err";
    const std::string config = (work / "command-config").string();
    const auto bake = [&](const std::string& mesh, const std::string& threads, std::vector<std::string> more) {
        std::vector<std::string> args{mesh, "--config-dir", config, "--defaults", "--quiet", "--threads", threads};
        args.insert(args.end(), more.begin(), more.end());
        const CommandRun r = RunCommand(dunsmere, args, err);
        if (r.status != 0) throw std::runtime_error("a bench bake failed with status " + std::to_string(r.status));
        return r;
    };
    const std::string png = (work / "command-bench.png").string(), obj = (work / "command-bench.obj").string();

    // 1 thread against 2, taking turns.
    std::vector<Pair> pairs{{"map 1024, PNG", {}, {}, {}}, {"vertex colours", {}, {}, {}}};
    const std::vector<std::string> mapArgs{"--algorithm", "uv-map", "--size", "1024x1024", "-o", png};
    const std::vector<std::string> colourArgs{"--algorithm", "vertex-colors", "-o", obj};
    std::fprintf(stderr, "bench: command bakes, 1 thread against 2\n");
    for (int i = 0; i < kPairs; ++i)
        for (size_t k = 0; k < pairs.size(); ++k) {
            const auto& args = k == 0 ? mapArgs : colourArgs;
            const double one = bake(mesh100k, "1", args).seconds;
            const double two = bake(mesh100k, "2", args).seconds;
            pairs[k].one.push_back(one);
            pairs[k].two.push_back(two);
            pairs[k].ratios.push_back(one / two);
        }

    // The 4096 map, and supersampling at 4 against the same map at 1 for
    // the memory bound (within 1.5 x its peak, plus 64 MiB): the median
    // time of each and its highest peak.
    std::fprintf(stderr, "bench: command bakes, 4096 x 4096 and 2048 x 2048 at supersample 1 and 4\n");
    const std::vector<std::string> map4096{"--algorithm", "uv-map", "--size", "4096x4096", "-o", png};
    const std::vector<std::string> map2048{"--algorithm", "uv-map", "--size", "2048x2048", "-o", png};
    std::vector<std::string> super2048 = map2048;
    super2048.insert(super2048.end(), {"--supersample", "4"});
    std::vector<double> largeSeconds[3];
    CommandRun large[3];
    for (int i = 0; i < kLargeRuns; ++i)
        for (int k = 0; k < 3; ++k) {
            const CommandRun r = bake(mesh100k, "2", k == 0 ? map4096 : k == 1 ? map2048 : super2048);
            largeSeconds[k].push_back(r.seconds);
            large[k].peakMiB = std::max(large[k].peakMiB, r.peakMiB);
        }
    for (int k = 0; k < 3; ++k) large[k].seconds = Median(largeSeconds[k]);
    const CommandRun &big = large[0], &direct = large[1], &super = large[2];
    const double superBound = 1.5 * direct.peakMiB + 64.0;

    std::fprintf(stderr, "bench: command bakes, the box\n");
    const fs::path box = work / "box.obj";
    WriteBox(box);
    std::vector<double> boxWall;
    std::map<std::string, std::vector<double>> boxPhases;
    for (int i = 0; i < kBoxRuns; ++i) {
        // Settings are saved, as an artist's run saves them: fsyncs included.
        const CommandRun r = bake(box.string(), "2", {"--algorithm", "uv-map", "-o", (work / "box.png").string()});
        boxWall.push_back(r.seconds);
        double inside = 0.0;
        for (const auto& [name, seconds] : r.phases) inside += seconds;
        boxPhases["process start and exit"].push_back(r.seconds - inside);
        boxPhases["plug-in load"].push_back(r.phases.count("plugin") ? r.phases.at("plugin") : 0.0);
        boxPhases["mesh load"].push_back(r.phases.count("load") ? r.phases.at("load") : 0.0);
        double settings = 0.0, baking = 0.0;
        for (const char* p : {"panel", "close"}) settings += r.phases.count(p) ? r.phases.at(p) : 0.0;
        for (const char* p : {"build", "rasterize", "rays", "passes"}) baking += r.phases.count(p) ? r.phases.at(p) : 0.0;
        boxPhases["settings read and saved"].push_back(settings);
        boxPhases["bake"].push_back(baking);
        boxPhases["write"].push_back(r.phases.count("write") ? r.phases.at("write") : 0.0);
    }

    const double coverage = UvCoverage(mesh100k);
    std::ostringstream s;
    s << "\n## Threads and whole bakes (the 100k mesh, start to exit)\n\n"
      << "Each bake runs " << kPairs << " times on 1 thread and on 2, taking turns; medians, and the median of the "
      << "side-by-side ratios. The 100k mesh's UV charts cover " << Format("%.1f%%", 100.0 * coverage)
      << " of the map. PNG at libpng's default compression.\n\n"
      << "| bake | 1 thread, s | 2 threads, s | 1T/2T |\n|---|---:|---:|---:|\n";
    for (const Pair& p : pairs)
        s << "| " << p.what << " | " << Format("%.3f", Median(p.one)) << " | " << Format("%.3f", Median(p.two))
          << " | " << Format("%.2f", Median(p.ratios)) << " |\n";
    s << "\nThe large maps run " << kLargeRuns << " times each, taking turns: median time, highest peak memory.\n\n"
      << "| bake | 1 thread, s | 2 threads, s | 1T/2T |\n|---|---:|---:|---:|\n";
    s << "| map 4096, PNG | | " << Format("%.2f", big.seconds) << " (peak " << Format("%.0f", big.peakMiB)
      << " MiB) | |\n";
    s << "| map 2048, PNG | | " << Format("%.2f", direct.seconds) << " (peak " << Format("%.0f", direct.peakMiB)
      << " MiB) | |\n";
    s << "| map 2048 at supersample 4, PNG | | " << Format("%.2f", super.seconds) << " (peak "
      << Format("%.0f", super.peakMiB) << " MiB) | |\n";

    s << "\nThe 12-triangle box, a 200 x 200 map at the defaults with the settings saved, " << kBoxRuns
      << " runs on the working disk: median " << Format("%.1f", 1000.0 * Median(boxWall)) << " ms start to exit.\n\n"
      << "| part | median, ms |\n|---|---:|\n";
    for (const char* part : {"process start and exit", "plug-in load", "mesh load", "settings read and saved", "bake", "write"})
        s << "| " << part << " | " << Format("%.1f", 1000.0 * Median(boxPhases[part])) << " |\n";

    const double mapRatio = Median(pairs[0].ratios), colourRatio = Median(pairs[1].ratios);
    s << "\n### Goals\n\n"
      << "- 2 threads against 1 at 100k: map " << Format("%.2f", mapRatio) << "x, vertex colours "
      << Format("%.2f", colourRatio) << "x (goal 1.7: " << Verdict(std::min(mapRatio, colourRatio) >= 1.7) << ").\n"
      << "- 1024 x 1024 map, 2 threads: " << Format("%.2f", Median(pairs[0].two)) << " s (goal 2 s: "
      << Verdict(Median(pairs[0].two) < 2.0) << ").\n"
      << "- 4096 x 4096 map: " << Format("%.2f", big.seconds) << " s (goal 20 s: " << Verdict(big.seconds < 20.0)
      << "), peak " << Format("%.0f", big.peakMiB) << " MiB (goal 1536 MiB: " << Verdict(big.peakMiB <= 1536.0)
      << ").\n"
      << "- 2048 x 2048 map at supersample 4: " << Format("%.2f", super.seconds) << " s (goal 60 s: "
      << Verdict(super.seconds < 60.0) << "), peak " << Format("%.0f", super.peakMiB) << " MiB (goal "
      << Format("%.0f", superBound) << " MiB, 1.5 x the direct map's plus 64: " << Verdict(super.peakMiB <= superBound)
      << ").\n"
      << "- 12-triangle box: " << Format("%.1f", 1000.0 * Median(boxWall)) << " ms (goal 50 ms: "
      << Verdict(Median(boxWall) < 0.05) << ").\n";
    return s.str();
}
