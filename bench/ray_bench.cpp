// make bench: the ray scene against the brute force and against Embree on
// the rays a vertex-colour run casts, the scene's build, and whole bakes
// through the command. Prints the tables and writes them to a results file
// naming the machine.
//
// Usage: dunsmere_bench --dunsmere PATH --crate PATH --work DIR --results FILE
//                       [--sizes 1000,10000]  (triangle counts; the default is the four sizes)
//                       [--cancel-only 1]     (the Ctrl-C measurement alone)
//                       [--only high-low]     (the bake from a high mesh alone; its section of
//                                              the results file is replaced, the rest kept)
//        dunsmere_bench --write-pair DIR      (only writes the high-to-low pair's two OBJ files)
#include <algorithm>
#include <atomic>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/mesh/mesh_files.h"
#include "cancel_bench.h"
#include "command_bench.h"
#include "command_runner.h"
#include "eval/eval.h"
#include "geom/geom.h"
#include "high_low_bench.h"
#include "high_low_pair.h"
#include "sphere_obj.h"
#ifdef DUNSMERE_BENCH_EMBREE
#include "embree_rays.h"
#endif

using namespace dunsmere;

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Each timing repeats its work until this much time has passed, so that the
// small meshes are not measured on a few microseconds; a build runs at least
// three times and keeps its best.
constexpr double kMinSeconds = 0.25;
// The plain route tests every face: its sample holds about this many face
// tests per distance (at least kMinPlainRays rays).
constexpr double kPlainFaceTests = 1.5e8;
// The routes other than the fastest are timed on every k-th ray, at most
// this many.
constexpr size_t kRouteRays = 1'000'000;
// Whole plain bakes run only on meshes this small. A plain 1024 x 1024 map
// of 10k triangles takes over five minutes on two cores; above this many
// triangles the plain map is baked at 256 x 256, beside a fast one at the
// same size, to keep the bench within ten minutes.
constexpr int kPlainBakeFaces = 20000;
constexpr int kPlainFullMapFaces = 2000;
constexpr size_t kMinPlainRays = 64;
// The one- and two-thread runs of the scene and Embree's run take turns
// this many times, and each keeps its best: on a machine shared with other
// work, a neighbour's burst then does not land on one column alone.
constexpr int kTrials = 3;

struct Hit {
    int found = 0;
    float t = 0.0f;
    bool operator==(const Hit& o) const
    {
        return found == o.found && (!found || std::bit_cast<std::uint32_t>(t) == std::bit_cast<std::uint32_t>(o.t));
    }
};

using Caster = std::function<int(const Ray&, float&, float)>;

struct CastTiming {
    double raysPerSecond = 0.0;
    std::vector<Hit> hits;
};

// Casts `rays` on `threads` threads, handing out blocks of rays as they are
// asked for, repeated until kMinSeconds have passed.
CastTiming Cast(const Caster& cast, const std::vector<Ray>& rays, float dist, int threads)
{
    CastTiming r;
    const size_t n = rays.size();
    r.hits.resize(n);
    if (n == 0) return r;
    constexpr size_t kBlock = 256;
    // The threads live for the whole measurement and take blocks of the
    // ray set over and over, so that a small set does not time thread starts.
    std::atomic<size_t> next{0};
    const auto start = Clock::now();
    auto work = [&] {
        for (;;) {
            const size_t b = next.fetch_add(kBlock);
            if (b >= n && Since(start) >= kMinSeconds) return;
            for (size_t v = b; v < b + kBlock; ++v) {
                const size_t i = v % n;
                Hit h;
                h.found = cast(rays[i], h.t, dist);
                if (v < n) r.hits[i] = h;  // the first pass alone: no two threads share a slot
            }
        }
    };
    if (threads == 1) {
        work();
    } else {
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) pool.emplace_back(work);
        for (std::thread& t : pool) t.join();
    }
    const double seconds = Since(start);
    // Every block taken was cast, the last of each thread included.
    r.raysPerSecond = static_cast<double>(next.load() - kBlock * static_cast<size_t>(threads)) / seconds;
    return r;
}

// Every k-th ray, about `count` of them.
std::vector<Ray> Sample(const std::vector<Ray>& rays, size_t count)
{
    if (count >= rays.size()) return rays;
    std::vector<Ray> s;
    const double step = static_cast<double>(rays.size()) / static_cast<double>(count);
    for (size_t i = 0; i < count; ++i) s.push_back(rays[static_cast<size_t>(static_cast<double>(i) * step)]);
    return s;
}

// The vertex-colour rays at the defaults (8 around, 1 ring), from every
// face's centroid, in the order a one-thread run casts them: captured from
// the sample evaluation itself, against a scene with nothing in it.
std::vector<Ray> VertexColourRays(const Mesh& mesh, const Tab<Point3>& faceNormals)
{
    UtilitySettings settings;
    settings.algorithm = kAlgorithmVertexColors;
    settings.dist = 1.0f;
    VertexNormals vertexNormals;
    vertexNormals.BuildVertexNormals(mesh);
    const RayScene empty;
    const SampleTables tables{faceNormals, vertexNormals, &empty};
    const int perFace = RayCount(settings);
    std::vector<Ray> rays(static_cast<size_t>(mesh.getNumFaces()) * static_cast<size_t>(perFace));
    CrtRand rng;
    const Point3 centroid{0.33333334f, 0.33333334f, 0.33333334f};
    for (int f = 0; f < mesh.getNumFaces(); ++f)
        EvaluateSample(settings, tables, mesh, f, centroid, &rays[static_cast<size_t>(f) * static_cast<size_t>(perFace)],
                       rng);
    return rays;
}

float BoxDiagonal(const Mesh& mesh)
{
    Point3 lo = mesh.verts[0], hi = mesh.verts[0];
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        const Point3& p = mesh.verts[static_cast<size_t>(i)];
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const Point3 d = hi - lo;
    return std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
}

struct DistRow {
    float dist = 0.0f;
    size_t rays = 0;
    double hitShare = 0.0;
    double ours1 = 0.0, ours2 = 0.0, embree = 0.0, plain = 0.0;
    size_t plainRays = 0;
    size_t plainMismatches = 0;   // the tree against the brute force, by bits
    double embreeAgreement = 0.0;  // share of rays with the same hit flag
    std::vector<std::pair<RayRoute, double>> routes;
};

struct BakeRow {
    std::string what;
    double seconds = 0.0;
    int status = -1;
    std::string phases;
};

struct MeshRow {
    std::string name;
    bool sized = false;  // one of the generated sizes, counted in the goals
    int faces = 0;
    double buildMTriPerSecond = 0.0, build2TMTriPerSecond = 0.0;
    double bytesPerTriangle = 0.0;
    int alwaysFaces = 0;
    double embreeBuildSeconds = -1.0;
    std::vector<DistRow> dists;
    std::vector<BakeRow> bakes;
};

const RayRoute kTreeRoutes[] = {RayRoute::kScalar, RayRoute::kSse2, RayRoute::kAvx2, RayRoute::kAvx512};

void Log(const char* format, const std::string& a, double b = 0.0)
{
    std::fprintf(stderr, format, a.c_str(), b);
    std::fflush(stderr);
}

DistRow MeasureRays(const Mesh& mesh, const Tab<Point3>& normals, const std::vector<Ray>& rays, float dist,
                    const RayScene& best, [[maybe_unused]] const void* embree)
{
    DistRow row;
    row.dist = dist;
    row.rays = rays.size();
    const Caster ours = [&best](const Ray& r, float& t, float d) { return best.Intersect(r, t, d); };
#ifdef DUNSMERE_BENCH_EMBREE
    const auto& e = *static_cast<const EmbreeScene*>(embree);
    const Caster ec = [&e](const Ray& r, float& t, float d) { return e.Intersect(r, t, d); };
    CastTiming et;
#endif
    CastTiming one;
    for (int trial = 0; trial < kTrials; ++trial) {
        CastTiming t = Cast(ours, rays, dist, 1);
        row.ours1 = std::max(row.ours1, t.raysPerSecond);
        if (trial == 0) one = std::move(t);
        row.ours2 = std::max(row.ours2, Cast(ours, rays, dist, 2).raysPerSecond);
#ifdef DUNSMERE_BENCH_EMBREE
        CastTiming te = Cast(ec, rays, dist, 1);
        row.embree = std::max(row.embree, te.raysPerSecond);
        if (trial == 0) et = std::move(te);
#endif
    }
    size_t hits = 0;
    for (const Hit& h : one.hits) hits += static_cast<size_t>(h.found);
    row.hitShare = static_cast<double>(hits) / static_cast<double>(std::max<size_t>(1, rays.size()));

    const std::vector<Ray> routeRays = Sample(rays, kRouteRays);
    for (RayRoute route : kTreeRoutes) {
        if (!RouteSupported(route)) continue;
        if (route == best.Route() && routeRays.size() == rays.size()) {
            row.routes.emplace_back(route, row.ours1);
            continue;
        }
        RayScene scene;
        const SceneInput input{&mesh, &normals};
        scene.Build({&input, 1}, route);
        const Caster c = [&scene](const Ray& r, float& t, float d) { return scene.Intersect(r, t, d); };
        row.routes.emplace_back(route, Cast(c, routeRays, dist, 1).raysPerSecond);
    }

    // The brute force on every k-th ray; the tree must give the same bits.
    const size_t count = std::max(kMinPlainRays, static_cast<size_t>(kPlainFaceTests / mesh.getNumFaces()));
    const std::vector<Ray> sample = Sample(rays, count);
    const Caster plain = [&mesh, &normals](const Ray& r, float& t, float d) {
        return IntersectRay(mesh, r, t, d, normals);
    };
    const CastTiming p = Cast(plain, sample, dist, 1);
    row.plain = p.raysPerSecond;
    row.plainRays = sample.size();
    for (size_t i = 0; i < sample.size(); ++i) {
        Hit h;
        h.found = best.Intersect(sample[i], h.t, dist);
        if (!(h == p.hits[i])) ++row.plainMismatches;
    }

#ifdef DUNSMERE_BENCH_EMBREE
    size_t same = 0;
    for (size_t i = 0; i < rays.size(); ++i) same += static_cast<size_t>(et.hits[i].found == one.hits[i].found);
    row.embreeAgreement = static_cast<double>(same) / static_cast<double>(std::max<size_t>(1, rays.size()));
#endif
    return row;
}

// The command from start to exit, and the phases it reports.
BakeRow Bake(const std::string& dunsmere, const std::string& what, std::vector<std::string> args)
{
    BakeRow row;
    row.what = what;
    args.push_back("--timings");
    Log("bench:   bake %s\n", what);
    const auto start = Clock::now();
    const CommandResult r = RunProgram(dunsmere, args);
    row.seconds = Since(start);
    row.status = r.status;
    const std::string mark = "dunsmere: timings: ";
    const size_t at = r.err.find(mark);
    if (at != std::string::npos) row.phases = r.err.substr(at + mark.size(), r.err.find('\n', at) - at - mark.size());
    if (r.status != 0) row.phases = "failed (" + std::to_string(r.status) + "): " + r.err.substr(0, 200);
    return row;
}

MeshRow MeasureMesh(const std::string& name, const std::string& path, bool sized, const std::string& dunsmere,
                    const fs::path& work, bool raysOnly)
{
    MeshRow row;
    row.name = name;
    row.sized = sized;
    Log("bench: %s\n", name);
    const MeshFile file = ReadMeshFile(path);
    const Mesh& mesh = file.mesh;
    row.faces = mesh.getNumFaces();
    Tab<Point3> normals;
    BuildFaceNormals(mesh, normals);
    const SceneInput input{&mesh, &normals};

    RayScene best;
    // One thread and two take turns, as the ray timings do.
    double buildSeconds[2] = {1e30, 1e30}, total = 0.0;
    int builds = 0;
    do {
        for (int threads = 1; threads <= 2; ++threads) {
            const auto start = Clock::now();
            best.Build({&input, 1}, DefaultRayRoute(), {&DefaultThreadStarter(), threads});
            const double s = Since(start);
            buildSeconds[threads - 1] = std::min(buildSeconds[threads - 1], s);
            total += s;
        }
        ++builds;
    } while ((total < 2 * kMinSeconds || builds < 3) && builds < 50);
    row.buildMTriPerSecond = row.faces / buildSeconds[0] / 1e6;
    row.build2TMTriPerSecond = row.faces / buildSeconds[1] / 1e6;
    const SceneStats stats = best.Stats();
    row.bytesPerTriangle = static_cast<double>(stats.bytes) / row.faces;
    row.alwaysFaces = stats.alwaysFaces;

    const void* embree = nullptr;
#ifdef DUNSMERE_BENCH_EMBREE
    const EmbreeScene embreeScene(mesh, normals);
    row.embreeBuildSeconds = embreeScene.BuildSeconds();
    embree = &embreeScene;
#endif

    const std::vector<Ray> rays = VertexColourRays(mesh, normals);
    for (const float dist : {0.25f * BoxDiagonal(mesh), 30.0f}) {
        Log("bench:   rays at dist %s%.2f\n", "", static_cast<double>(dist));
        row.dists.push_back(MeasureRays(mesh, normals, rays, dist, best, embree));
    }
    if (raysOnly) return row;

    const std::string config = (work / "config").string();
    const std::vector<std::string> common{path, "--config-dir", config, "--defaults", "--no-save-settings", "--quiet"};
    auto with = [&common](std::initializer_list<std::string> more) {
        std::vector<std::string> a = common;
        a.insert(a.end(), more);
        return a;
    };
    const std::string png = (work / (name + ".png")).string(), obj = (work / (name + "-colours.obj")).string();
    const bool plainToo = sized && row.faces <= kPlainBakeFaces;
    row.bakes.push_back(Bake(dunsmere, "map 1024", with({"--algorithm", "uv-map", "--size", "1024x1024", "-o", png})));
    if (plainToo && row.faces <= kPlainFullMapFaces) {
        row.bakes.push_back(Bake(dunsmere, "map 1024 plain",
                                 with({"--algorithm", "uv-map", "--size", "1024x1024", "-o", png, "--plain"})));
    } else if (plainToo) {
        row.bakes.push_back(Bake(dunsmere, "map 256", with({"--algorithm", "uv-map", "--size", "256x256", "-o", png})));
        row.bakes.push_back(Bake(dunsmere, "map 256 plain",
                                 with({"--algorithm", "uv-map", "--size", "256x256", "-o", png, "--plain"})));
    }
    row.bakes.push_back(Bake(dunsmere, "vertex colours", with({"--algorithm", "vertex-colors", "-o", obj})));
    if (plainToo)
        row.bakes.push_back(
            Bake(dunsmere, "vertex colours plain", with({"--algorithm", "vertex-colors", "-o", obj, "--plain"})));
    return row;
}

std::string Machine()
{
    std::ifstream in("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(in, line))
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " logical cores";
}

std::string Today()
{
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    return text;
}

std::string Format(const char* format, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Mrays(double raysPerSecond) { return raysPerSecond > 0.0 ? Format("%.2f", raysPerSecond / 1e6) : "n/a"; }

std::string Ratio(double a, double b) { return a > 0.0 && b > 0.0 ? Format("%.2f", a / b) : "n/a"; }

std::string Verdict(bool met) { return met ? "met" : "**not met**"; }

std::string Report(const std::vector<MeshRow>& rows, const std::string& commandBakes, double wallSeconds)
{
    std::ostringstream s;
    s << "# Benchmarks\n\n"
      << "Machine: " << Machine() << ". Date: " << Today() << ". Whole run: " << Format("%.0f", wallSeconds)
      << " s.\n\n"
      << "Rays: the vertex-colour spread at the defaults (8 around, 1 ring, 9 rays) from every face's centroid, "
         "cast at dist = 0.25 x the bounding-box diagonal and at dist = 30. Rays per second in millions; "
         "the plain route on every k-th ray (how many in brackets), the routes other than the fastest on at most "
      << kRouteRays << " of them. Ours 1T, ours 2T and Embree take turns " << kTrials
      << " times and each keeps its best. Embree "
#ifdef DUNSMERE_BENCH_EMBREE
      << EmbreeVersion()
#else
      << "(not found at build time)"
#endif
      << ", highest build quality, nearest hit with a front-facing filter.\n\n";

    s << "## Scene\n\n| mesh | triangles | build, M tri/s | build 2T, M tri/s | bytes/tri | tested for every ray | "
         "Embree build, s |\n"
      << "|---|---:|---:|---:|---:|---:|---:|\n";
    for (const MeshRow& m : rows)
        s << "| " << m.name << " | " << m.faces << " | " << Format("%.2f", m.buildMTriPerSecond) << " | "
          << Format("%.2f", m.build2TMTriPerSecond) << " | "
          << Format("%.1f", m.bytesPerTriangle) << " | " << m.alwaysFaces << " | "
          << (m.embreeBuildSeconds >= 0 ? Format("%.3f", m.embreeBuildSeconds) : "n/a") << " |\n";

    s << "\n## Rays\n\n"
      << "| mesh | dist | rays | hit | ours 1T | ours 2T | Embree 1T | ours/Embree | 2T/1T | plain (rays) | "
         "ours/plain | ns/ray | plain mismatches | same hit flag as Embree |\n"
      << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const MeshRow& m : rows)
        for (const DistRow& d : m.dists)
            s << "| " << m.name << " | " << Format("%.2f", static_cast<double>(d.dist)) << " | " << d.rays << " | "
              << Format("%.0f%%", 100.0 * d.hitShare) << " | " << Mrays(d.ours1) << " | " << Mrays(d.ours2) << " | "
              << Mrays(d.embree) << " | " << Ratio(d.ours1, d.embree) << " | " << Ratio(d.ours2, d.ours1) << " | "
              << Format("%.4f", d.plain / 1e6) << " (" << d.plainRays << ") | "
              << Format("%.0f", d.ours1 / d.plain) << " | " << Format("%.0f", 1e9 / d.ours1) << " | "
              << d.plainMismatches << " | "
              << (d.embree > 0 ? Format("%.3f%%", 100.0 * d.embreeAgreement) : "n/a") << " |\n";

    s << "\n## Routes, one thread (M rays/s)\n\n| mesh | dist |";
    for (RayRoute r : kTreeRoutes)
        if (RouteSupported(r)) s << " " << RouteName(r) << " |";
    s << "\n|---|---:|";
    for (RayRoute r : kTreeRoutes)
        if (RouteSupported(r)) s << "---:|";
    s << "\n";
    for (const MeshRow& m : rows)
        for (const DistRow& d : m.dists) {
            s << "| " << m.name << " | " << Format("%.2f", static_cast<double>(d.dist)) << " |";
            for (const auto& [route, rate] : d.routes) s << " " << Mrays(rate) << " |";
            s << "\n";
        }

    s << "\n## Whole bakes through the command (defaults, start to exit)\n\n"
      << "The plain 10k map is baked at 256 x 256 beside a fast one of that size: at 1024 x 1024 it alone takes "
         "over five minutes on two cores. The build phase holds the face normals, the ray scene (on as many "
         "threads as the bake) and the vertex normals; the rays phase runs from the workers' start to the "
         "completion message.\n\n| mesh | bake | wall, s | phases |\n"
      << "|---|---|---:|---|\n";
    for (const MeshRow& m : rows)
        for (const BakeRow& b : m.bakes)
            s << "| " << m.name << " | " << b.what << " | " << Format("%.2f", b.seconds) << " | " << b.phases << " |\n";

    s << "\n## Goals (generated sizes)\n\n";
    for (size_t k = 0; k < 2; ++k) {
        double logSum = 0.0, minRatio = 1e30, minThreads = 1e30;
        int n = 0;
        std::string perSize;
        for (const MeshRow& m : rows) {
            if (!m.sized || k >= m.dists.size()) continue;
            const DistRow& d = m.dists[k];
            if (d.embree > 0) {
                logSum += std::log(d.ours1 / d.embree);
                minRatio = std::min(minRatio, d.ours1 / d.embree);
                ++n;
            }
            minThreads = std::min(minThreads, d.ours2 / d.ours1);
            perSize += (perSize.empty() ? "" : ", ") + m.name + " " + Format("%.0f ns", 1e9 / d.ours1);
        }
        s << "- dist " << (k == 0 ? "0.25 x diagonal" : "30") << ": ";
        if (n > 0) {
            const double geo = std::exp(logSum / n);
            s << "ours/Embree geometric mean " << Format("%.2f", geo) << " (goal 0.8: " << Verdict(geo >= 0.8)
              << "), lowest " << Format("%.2f", minRatio) << " (goal 0.7: " << Verdict(minRatio >= 0.7) << "); ";
        } else {
            s << "ours/Embree n/a (Embree not built); ";
        }
        s << "2T/1T lowest " << Format("%.2f", minThreads) << " (goal 1.6: " << Verdict(minThreads >= 1.6)
          << "); per ray: " << perSize << ".\n";
    }
    double worstBytes = 0.0, slowestBuild = 1e30, plain100k = 0.0;
    for (const MeshRow& m : rows) {
        if (!m.sized) continue;
        worstBytes = std::max(worstBytes, m.bytesPerTriangle);
        slowestBuild = std::min(slowestBuild, m.buildMTriPerSecond);
        if (m.faces > 50000 && m.faces < 200000)
            for (const DistRow& d : m.dists) plain100k = plain100k == 0.0 ? d.ours1 / d.plain : std::min(plain100k, d.ours1 / d.plain);
    }
    s << "- ours/plain per ray at 100k, lowest over both distances: " << Format("%.0f", plain100k)
      << " (goal 100: " << Verdict(plain100k >= 100.0) << ").\n"
      << "- bytes per triangle, highest: " << Format("%.1f", worstBytes) << " (goal 96: " << Verdict(worstBytes <= 96.0)
      << ").\n"
      << "- build, slowest: " << Format("%.2f", slowestBuild) << " M tri/s (goal 1.5: "
      << Verdict(slowestBuild >= 1.5) << ").\n";
    s << commandBakes;
    return s.str();
}

struct Args {
    std::string dunsmere, crate, work, results;
    std::vector<int> sizes{1000, 10000, 100000, 1000000};
    bool raysOnly = false;  // --rays-only 1: the scene and Embree alone, no bakes
    bool cancelOnly = false;
    bool highLowOnly = false;  // --only high-low
    std::string writePair;     // --write-pair DIR
};

Args Parse(int argc, char** argv)
{
    Args a;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string k = argv[i], v = argv[i + 1];
        if (k == "--dunsmere") a.dunsmere = v;
        else if (k == "--crate") a.crate = v;
        else if (k == "--work") a.work = v;
        else if (k == "--results") a.results = v;
        else if (k == "--sizes") {  // for trying the bench out: "1000,10000"
            a.sizes.clear();
            std::stringstream list(v);
            for (std::string n; std::getline(list, n, ',');) a.sizes.push_back(std::stoi(n));
        }
        else if (k == "--rays-only") a.raysOnly = v == "1";
        else if (k == "--cancel-only") a.cancelOnly = v == "1";
        else if (k == "--only" && v == "high-low") a.highLowOnly = true;
        else if (k == "--write-pair") a.writePair = v;
        else throw std::runtime_error("unknown option " + k + " " + v);
    }
    if (!a.writePair.empty()) return a;
    if (a.dunsmere.empty() || (a.crate.empty() && !a.highLowOnly) || a.work.empty() || a.results.empty())
        throw std::runtime_error("usage: dunsmere_bench --dunsmere PATH --crate PATH --work DIR --results FILE");
    return a;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Args args = Parse(argc, argv);
        if (!args.writePair.empty()) {
            const HighLowPair pair = WriteHighLowPair(args.writePair);
            std::printf("%s: %d triangles\n%s: %d triangles\n", pair.low.c_str(), pair.lowFaces, pair.high.c_str(),
                        pair.highFaces);
            return 0;
        }
        const auto start = Clock::now();
        const fs::path work = args.work;
        fs::create_directories(work);
        if (args.highLowOnly) {
            const std::string section = MeasureHighToLow(args.dunsmere, work.string());
            std::fputs(section.c_str(), stdout);
            PutHighToLowSection(args.results, section);
            return 0;
        }
        if (args.cancelOnly) {
            const std::string report = MeasureCancelLatency(args.dunsmere, args.crate, work.string());
            std::fputs(report.c_str(), stdout);
            if (!(std::ofstream(args.results) << report)) throw std::runtime_error("cannot write " + args.results);
            return 0;
        }
        std::vector<MeshRow> rows;
        std::string mesh100k;
        for (const int triangles : args.sizes) {
            const std::string name = triangles >= 1000000 ? "1M" : std::to_string(triangles / 1000) + "k";
            const std::string path = (work / ("sphere-" + name + ".obj")).string();
            WriteSphereObj(path, SphereSubdivision(triangles));
            if (triangles == 100000) mesh100k = path;
            rows.push_back(MeasureMesh(name, path, true, args.dunsmere, work, args.raysOnly));
        }
        rows.push_back(MeasureMesh("crate", args.crate, false, args.dunsmere, work, args.raysOnly));
        const std::string commandBakes =
            mesh100k.empty() || args.raysOnly
                ? std::string()
                : MeasureCommandBakes(args.dunsmere, mesh100k, work.string()) +
                      MeasureCancelLatency(args.dunsmere, args.crate, work.string()) +
                      MeasureHighToLow(args.dunsmere, work.string());
        const std::string report = Report(rows, commandBakes, Since(start));
        std::fputs(report.c_str(), stdout);
        std::ofstream(args.results) << report;
        if (!std::ofstream(args.results, std::ios::app)) throw std::runtime_error("cannot write " + args.results);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "dunsmere_bench: %s\n", e.what());
        return 1;
    }
}
