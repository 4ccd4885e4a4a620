#include "app/command/refusals.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "app/command/command.h"
#include "host/temporary_files.h"

namespace {

[[noreturn]] void RefuseOutput(const CommandOptions& o, const std::string& why)
{
    throw CommandError(kExitUsage, "cannot write " + o.output + ": " + why);
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

void RefuseUnwritableOutput(const CommandOptions& o)
{
    struct stat out {};
    if (::stat(o.output.c_str(), &out) == 0) {
        if (S_ISDIR(out.st_mode)) RefuseOutput(o, "it is a folder");
        for (const std::string& mesh : o.meshes) {
            struct stat in {};
            if (::stat(mesh.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
                RefuseOutput(o, "it is the input file " + mesh);
        }
    }
    const TemporaryFile probe(o.output);
    if (probe.fd() >= 0) return;
    std::string folder = std::filesystem::path(probe.target()).parent_path().string();
    if (folder.empty()) folder = ".";
    if (probe.error() == ENOENT) RefuseOutput(o, "its folder " + folder + " does not exist");
    if (probe.error() == ENOTDIR) RefuseOutput(o, folder + " is not a folder");
    RefuseOutput(o, std::strerror(probe.error()));
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
