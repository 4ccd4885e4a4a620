#include "app/command/refusals.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "app/command/batch.h"
#include "app/command/command.h"
#include "app/command/tiles.h"
#include "host/temporary_files.h"

namespace dunsmere {

namespace {

[[noreturn]] void Refuse(const std::string& target, const std::string& why)
{
    throw CommandError(kExitUsage, "cannot write " + target + ": " + why);
}

// What a path that is not a regular file is, for the refusal.
const char* KindOf(mode_t mode)
{
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

// The file PATH is when it exists (links followed); nothing when it does not.
struct Existing {
    bool exists = false;
    struct stat st {};
};

Existing Stat(const std::string& path)
{
    Existing e;
    e.exists = ::stat(path.c_str(), &e.st) == 0;
    return e;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Two spellings of one path that may not exist yet: links followed where
// they lead, relative made absolute, "a/./b" as "a/b".
std::string PathKey(const std::string& path)
{
    std::error_code ec;
    const std::filesystem::path key = std::filesystem::weakly_canonical(FollowLinks(path), ec);
    return ec ? std::filesystem::absolute(path, ec).lexically_normal().string() : key.string();
}

// What TARGET may not be, whatever is written to it: something that is not
// a regular file (a FIFO, a device, a folder, or a link to one), which the
// write's rename would replace, or a file the run reads.
void RefuseTarget(const std::string& shown, const std::string& target, const CommandOptions& o,
                  const std::vector<SideFiles>& sides)
{
    const Existing out = Stat(target);
    if (!out.exists) return;
    if (!S_ISREG(out.st.st_mode)) Refuse(shown, std::string("it is ") + KindOf(out.st.st_mode));
    const auto refuseRead = [&](const std::vector<std::string>& files, const char* what) {
        for (const std::string& file : files) {
            const Existing in = Stat(file);
            if (in.exists && SameFile(in.st, out.st)) Refuse(shown, std::string("it is the ") + what + " " + file);
        }
    };
    refuseRead(o.meshes, "input file");
    refuseRead(o.occluders, "occluder file");
    for (const SideFiles& side : sides) {
        refuseRead(side.highs, "high-poly file");
        if (!side.cage.empty()) refuseRead({side.cage}, "cage file");
    }
}

// Refuses TARGET when no file can be made beside it, found by making and
// removing a temporary there as the write itself will.
void ProbeTarget(const std::string& shown, const std::string& target)
{
    const TemporaryFile probe(target);
    if (probe.fd() >= 0) return;
    std::string folder = std::filesystem::path(probe.target()).parent_path().string();
    if (folder.empty()) folder = ".";
    if (probe.error() == ENOENT) Refuse(shown, "its folder " + folder + " does not exist");
    if (probe.error() == ENOTDIR) Refuse(shown, folder + " is not a folder");
    Refuse(shown, std::strerror(probe.error()));
}

// Makes the folders of OUTPUT that are missing; refuses when it cannot.
void MakeFolders(const std::string& output)
{
    const std::filesystem::path folder = std::filesystem::path(output).parent_path();
    if (folder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) Refuse(output, "cannot make its folder " + folder.string() + ": " + ec.message());
}

// "map channels 1 and 3", "map channel 2", "no map channels".
std::string ChannelsOf(const Mesh& mesh)
{
    std::vector<int> channels;
    for (int ch = 1; ch < kMaxMapChannels; ++ch) {
        MapFaceFilter filter;
        filter.mapChannel = ch;
        if (MapFaceExclusion(mesh, filter, 0) != FaceExclusion::kNoMapChannel) channels.push_back(ch);
    }
    if (channels.empty()) return "no map channels";
    std::string text = channels.size() == 1 ? "map channel " : "map channels ";
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0) text += i + 1 == channels.size() ? " and " : ", ";
        text += std::to_string(channels[i]);
    }
    return text;
}

}  // namespace

void RefuseUnwritableOutputs(const CommandOptions& o, const std::vector<std::string>& patterns,
                             const std::vector<SideFiles>& sides)
{
    // A tiled map's files are those of the tiles --tiles names; before the
    // mesh is read tells which, tile 1001's stands for them all.
    const std::vector<int> tiles = o.tiles.empty() ? std::vector<int>{kFirstTile} : o.tiles;
    const auto files = [&tiles](const std::vector<std::string>& each) {
        std::vector<std::string> out;
        for (const std::string& pattern : each) {
            if (!NamesTile(pattern)) out.push_back(pattern);
            else
                for (const int tile : tiles) out.push_back(TileOutput(pattern, tile));
        }
        return out;
    };
    std::vector<std::string> missMaps;
    for (const SideFiles& side : sides)
        if (!side.missMap.empty()) missMaps.push_back(side.missMap);
    const std::vector<std::string> outputs = files(patterns), misses = files(missMaps);
    const std::string preset = o.writePreset.empty() ? "" : "the preset " + o.writePreset;
    for (const std::string& output : outputs) RefuseTarget(output, output, o, sides);
    for (const std::string& miss : misses) {
        RefuseTarget("the miss map " + miss, miss, o, sides);
        for (const std::string& output : outputs)
            if (PathKey(output) == PathKey(miss)) Refuse("the miss map " + miss, "it is the output " + output);
    }
    if (!preset.empty()) {
        RefuseTarget(preset, o.writePreset, o, sides);
        const std::string key = PathKey(o.writePreset);
        for (const std::string& output : outputs)
            if (PathKey(output) == key) Refuse(preset, "it is the output " + output);
        for (const std::string& miss : misses)
            if (PathKey(miss) == key) Refuse(preset, "it is the miss map " + miss);
    }
    // A pattern's folders are made, as batch tools make them: a plain path
    // into a missing folder is more often a typo.
    if (HasPlaceholder(o.output) || NamesTile(o.output))
        for (const std::string& output : outputs) MakeFolders(output);
    if (HasPlaceholder(o.missMap) || NamesTile(o.missMap))
        for (const std::string& miss : misses) MakeFolders(miss);
    for (const std::string& output : outputs) ProbeTarget(output, output);
    for (const std::string& miss : misses) ProbeTarget("the miss map " + miss, miss);
    if (!preset.empty()) ProbeTarget(preset, o.writePreset);
}

std::string FacesLeftOut(const Mesh& mesh, const MapFaceFilter& filter, int& count)
{
    const int faces = mesh.getNumFaces();
    count = 0;
    if (faces == 0) return "";
    if (MapFaceExclusion(mesh, filter, 0) == FaceExclusion::kNoMapChannel) {
        count = faces;
        return "the mesh has no map channel " + std::to_string(filter.mapChannel);
    }
    std::map<std::string, int> reasons;  // in the order of their names
    for (int f = 0; f < faces; ++f) {
        const char* why = nullptr;
        switch (MapFaceExclusion(mesh, filter, f)) {
        case FaceExclusion::kBaked: continue;
        case FaceExclusion::kNoMapChannel: why = "the mesh has no map channel"; break;
        case FaceExclusion::kNotSelected: why = "not selected"; break;
        case FaceExclusion::kOtherMaterial: why = "other material IDs"; break;
        case FaceExclusion::kMapIndexOutOfRange:
        case FaceExclusion::kOutsideUnitSquare: why = "map coordinates outside 0..1"; break;
        }
        ++reasons[why];
        ++count;
    }
    std::string text;
    for (const auto& [why, n] : reasons) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + why;
    return text;
}

void RefuseUselessMap(SceneNode& node, const MapFaceFilter& filter)
{
    const Mesh& mesh = node.CurrentMesh();
    const int faces = mesh.getNumFaces();
    if (faces == 0) return;
    const std::string& file = node.File().path;
    if (MapFaceExclusion(mesh, filter, 0) == FaceExclusion::kNoMapChannel)
        throw CommandError(kExitUsage, file + ": map channel " + std::to_string(filter.mapChannel) +
                                           " has no coordinates; the mesh has " + ChannelsOf(mesh));
    int left = 0;
    const std::string why = FacesLeftOut(mesh, filter, left);
    if (left < faces) return;
    const std::string which = faces == 1 ? "its one face" : "all " + std::to_string(faces) + " faces";
    throw CommandError(kExitUsage, file + ": " + which + " would be left out of the map (" + why + ")");
}

}  // namespace dunsmere
