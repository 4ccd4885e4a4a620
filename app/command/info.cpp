#include "app/command/info.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <map>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/command/command.h"
#include "app/command/scaling.h"
#include "app/command/tiles.h"
#include "app/mesh/mesh_files.h"
#include "app/mesh/smoothing.h"
#include "host/dialog.h"
#include "host/face_rule.h"
#include "app/mesh/uv_cover.h"

namespace dunsmere {

namespace {

struct InfoOptions {
    std::vector<std::string> meshes;
    bool json = false;
    bool quiet = false;
    double importLimits = 1.0;
    std::optional<double> smoothAngle;  // as a bake takes it
};

// The diagonal as the shortest text that reads back as its float, so that
// the JSON says 3.4641016 and not the float's every binary digit.
double DiagonalValue(float diagonal)
{
    if (!std::isfinite(diagonal)) return static_cast<double>(diagonal);
    return std::stod(ShortestFloatText(diagonal));
}

nlohmann::ordered_json Json(const MeshReport& r)
{
    nlohmann::ordered_json channels = nlohmann::ordered_json::array();
    for (const ChannelReport& c : r.channels) {
        channels.push_back({{"channel", c.channel},
                            {"coverage", c.coverage},
                            {"facesOutOfRange", c.facesOutOfRange},
                            {"overlapShare", c.overlapShare}});
        if (c.tiles.empty()) continue;
        nlohmann::ordered_json tiles = nlohmann::ordered_json::array();
        for (const ChannelReport::Tile& t : c.tiles)
            tiles.push_back({{"tile", t.tile}, {"faces", t.faces}, {"coverage", t.coverage}});
        channels.back()["tiles"] = tiles;
        channels.back()["facesCrossingTiles"] = c.facesCrossingTiles;
    }
    nlohmann::ordered_json materials = nlohmann::ordered_json::array();
    for (const MaterialReport& m : r.materials) materials.push_back({{"id", m.id}, {"name", m.name}, {"faces", m.faces}});
    return {{"file", r.file},
            {"faces", r.faces},
            {"vertices", r.vertices},
            {"diagonal", r.diagonal},
            {"channels", channels},
            {"materials", materials},
            {"smoothingGroups", {{"used", r.smoothingBits}, {"facesWithout", r.facesWithoutGroup}}}};
}

std::string Percent(double share)
{
    if (share > 0.0 && share < 0.0001) return "<0.01%";
    char text[32];
    std::snprintf(text, sizeof text, "%.2f%%", 100.0 * share);
    return text;
}

std::string Plural(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// One block per mesh: the file, then one line per fact under a label column.
std::string Text(const MeshReport& r)
{
    std::ostringstream s;
    const auto line = [&s](const std::string& label, const std::string& value) {
        s << "  " << label << std::string(label.size() < 16 ? 16 - label.size() : 1, ' ') << value << "\n";
    };
    s << r.file << "\n";
    line("faces", std::to_string(r.faces));
    line("vertices", std::to_string(r.vertices));
    line("diagonal", ShortestFloatText(static_cast<float>(r.diagonal)));
    if (r.channels.empty()) line("map channels", "none");
    const std::string mapSize = std::to_string(kInfoMapWidth) + "x" + std::to_string(kInfoMapHeight);
    for (const ChannelReport& c : r.channels) {
        const std::string twice = CoveredTwice(c.overlapFaces, c.overlapShare);
        line("map channel " + std::to_string(c.channel), "coverage " + Percent(c.coverage) + ", " +
                                                             Plural(c.facesOutOfRange, "face", "faces") +
                                                             " out of range, " + twice + " at " + mapSize);
        if (c.tiles.empty()) continue;
        std::string tiles;
        for (const ChannelReport::Tile& t : c.tiles)
            tiles += (tiles.empty() ? "" : ", ") + std::to_string(t.tile) + " " + Percent(t.coverage) + " (" +
                     Plural(t.faces, "face", "faces") + ")";
        line("  UDIM tiles", tiles + "; " + Plural(c.facesCrossingTiles, "face crosses", "faces cross") +
                                 " a tile border");
    }
    for (const MaterialReport& m : r.materials)
        line("material " + std::to_string(m.id),
             (m.name.empty() ? std::string("(no name)") : m.name) + ": " + Plural(m.faces, "face", "faces"));
    std::string bits;
    for (int b : r.smoothingBits) bits += " " + std::to_string(b);
    line("smoothing", (bits.empty() ? std::string("no groups") : "bits" + bits) + ", " +
                          Plural(r.facesWithoutGroup, "face", "faces") + " without a group");
    return s.str();
}

// What CLI11 said, and the status a bad command line ends with.
struct Parsed {
    bool run = false;
    int status = kExitDone;
};

Parsed Parse(int argc, const char* const* argv, InfoOptions& o)
{
    CLI::App app{"Shows what a bake would see of each mesh: its size, map channels, materials and smoothing groups.",
                 "dunsmere info"};
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.add_option("meshes", o.meshes, "mesh files, as a bake reads them")
        ->required()
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_flag("--json", o.json, "print one JSON array, an object per mesh read");
    std::optional<double> importLimits;
    app.add_option("--import-limits", importLimits,
                   "multiply the mesh importer's limits on memory, CPU time and stack by F (at least 1)")
        ->type_name("F");
    app.add_option("--smooth-angle", o.smoothAngle,
                   "the smoothing groups a bake with this --smooth-angle would use")
        ->type_name("DEG");
    app.add_flag("-q,--quiet", o.quiet, "no warnings about what reading found doubtful");
    // A bake's shared options, which info takes wherever they stand: it
    // loads no plug-in and saves no settings, so they change nothing here.
    std::string unused;
    app.add_option("--config-dir", unused, "")->group("");
    app.add_option("--plugins", unused, "")->group("");
    try {
        // The program name is "info": CLI11 passes over it.
        app.parse(argc - 1, argv + 1);
    } catch (const CLI::ParseError& e) {
        return {false, app.exit(e) == 0 ? kExitDone : kExitUsage};
    }
    if (importLimits) {
        if (!std::isfinite(*importLimits) || *importLimits < 1.0) {
            std::fputs("dunsmere: --import-limits wants a number of at least 1\n", stderr);
            return {false, kExitUsage};
        }
        o.importLimits = *importLimits;
    }
    if (o.smoothAngle && !(*o.smoothAngle >= 0.0 && *o.smoothAngle <= kMaxSmoothAngle)) {
        std::fprintf(stderr, "dunsmere: --smooth-angle wants degrees from 0 to %g\n", kMaxSmoothAngle);
        return {false, kExitUsage};
    }
    return {true, kExitDone};
}

}  // namespace

std::string CoveredTwice(int faces, double share)
{
    if (faces == 0) return "nothing covered twice";
    return Percent(share) + " covered twice (" + Plural(faces, "face", "faces") + ")";
}

std::string MeshReportJson(const MeshReport& report) { return Json(report).dump(); }

MeshReport ReportMesh(const MeshFile& file)
{
    const Mesh& mesh = file.mesh;
    MeshReport r;
    r.file = file.path;
    r.faces = mesh.getNumFaces();
    r.vertices = mesh.getNumVerts();
    r.diagonal = DiagonalValue(RelativeDistance(mesh, 1.0));
    for (int channel = 1; channel < kMaxMapChannels; ++channel) {
        if (!mesh.mapSupport(channel)) continue;
        const UvOverlap overlap = MeasureUvOverlap(mesh, channel, kInfoMapWidth, kInfoMapHeight);
        r.channels.push_back({channel, UvCoverage(mesh, channel), UvFacesOutOfRange(mesh, channel), overlap.faces,
                              overlap.share, {}, 0});
        MapFaceFilter filter;
        filter.mapChannel = channel;
        const TileSplit split = SplitByTile(mesh, filter);
        if (!UsesTiles(split)) continue;
        ChannelReport& c = r.channels.back();
        c.facesOutOfRange = split.outOfRange;
        c.facesCrossingTiles = split.crossing;
        const std::vector<double> coverages = TileCoverages(mesh, channel, split);
        for (std::size_t i = 0; i < split.tiles.size(); ++i)
            c.tiles.push_back({split.tiles[i].tile, split.tiles[i].faces, coverages[i]});
    }
    std::map<int, int> facesOf;
    DWORD groups = 0;
    for (const Face& face : mesh.faces) {
        ++facesOf[MaterialIDOf(face)];
        groups |= face.smGroup;
        if (face.smGroup == 0) ++r.facesWithoutGroup;
    }
    for (size_t i = 0; i < file.materialNames.size(); ++i)
        if (!file.materialNames[i].empty()) facesOf.try_emplace(static_cast<int>(i) + 1, 0);
    for (const auto& [id, faces] : facesOf) {
        const size_t index = static_cast<size_t>(id - 1);
        r.materials.push_back({id, index < file.materialNames.size() ? file.materialNames[index] : "", faces});
    }
    for (int bit = 0; bit < 32; ++bit)
        if (groups & (DWORD{1} << bit)) r.smoothingBits.push_back(bit);
    return r;
}

int RunInfo(int argc, const char* const* argv)
{
    InfoOptions o;
    const Parsed parsed = Parse(argc, argv, o);
    if (!parsed.run) return parsed.status;
    const MeshReading reading{o.importLimits, nullptr, o.smoothAngle};
    int status = kExitDone;
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    bool first = true;
    for (const std::string& path : o.meshes) {
        // Named on stderr, and in the JSON beside the meshes read, so that
        // a script sees every file it gave.
        const auto unreadable = [&](const std::string& error) {
            std::fprintf(stderr, "dunsmere: %s\n", error.c_str());
            if (o.json) all.push_back({{"file", path}, {"error", error}});
            status = kExitUsage;
        };
        try {
            const MeshFile file = ReadMeshFile(path, reading);
            if (!o.quiet)
                for (const std::string& w : file.warnings) std::fprintf(stderr, "dunsmere: warning: %s\n", w.c_str());
            const MeshReport report = ReportMesh(file);
            if (o.json) all.push_back(Json(report));
            else std::fputs(((first ? "" : "\n") + Text(report)).c_str(), stdout);
            first = false;
        } catch (const MeshFileError& e) {
            unreadable(e.what());
        } catch (const std::bad_alloc&) {
            unreadable(path + ": out of memory");
        }
        std::fflush(stdout);
    }
    if (o.json) std::printf("%s\n", all.dump(2).c_str());
    return status;
}

}  // namespace dunsmere
