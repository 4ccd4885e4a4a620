// A bake without the command: load the plug-in, add meshes, set the panel's
// options by name, generate, and read the map or the vertex colours back.
//
// Any number of sessions may live in a process, on any threads, each used
// by one thread at a time; their generations take turns (one bake at a
// time in a process), and a session waiting for its turn stops waiting
// when its cancel hook says so.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/mesh/mesh_file.h"
#include "app/session/bake_algorithm.h"
#include "app/session/hooks.h"
#include "app/session/outcome.h"
#include "host/face_rule.h"

namespace dunsmere {

class Panel;
class StandaloneHost;

// Why the session cannot go on: the plug-in, an option, a mesh. what()
// names the file or the option.
class SessionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A map as the plug-in made it, texel by texel along rows from the top.
struct BakedMap {
    int width = 0, height = 0;
    std::vector<std::uint16_t> levels;    // the grey level, 0 to 65535
    std::vector<std::uint16_t> coverage;  // the alpha: how much of the texel the faces cover
    // The grey levels as the bitmap manager counted them at its write.
    std::uint16_t min = 0, max = 0;
    double mean = 0.0;
};

struct BakeOutcome {
    enum class End { kDone, kRefused, kCancelled, kFailed };
    End end = End::kFailed;
    // The plug-in's messages, as the message hook received them.
    std::vector<std::string> messages;
    // Why the output could not be written, naming the file; "" otherwise.
    std::string error;
    // A map run's map (when done).
    BakedMap map;
    // A vertex-colour run's colours, for each mesh added in turn: red, green
    // and blue for each face's three corners, face by face (when done).
    std::vector<std::vector<float>> colours;
    // What the panel held when "Generate" was pressed (unset when it never
    // was): the bake's kind and which faces a map takes.
    std::optional<BakeAlgorithm> algorithm;
    MapFaceFilter filter;
    // A bake from high-poly sources: what it projected and missed, and its
    // miss map where kept (KeepMissMap).
    std::optional<ProjectionOutcome> projection;
    // Seconds from the build of the ray scene to the write, and the write.
    double bakeSeconds = 0.0, writeSeconds = 0.0;
};

class BakeSession {
public:
    // Loads the plug-in "Dunsmere" from PLUGIN_FOLDER, "" for "plugins"
    // beside the session's shared object. Throws SessionError.
    explicit BakeSession(HostHooks hooks = {}, const std::string& pluginFolder = "");
    ~BakeSession();
    BakeSession(const BakeSession&) = delete;
    BakeSession& operator=(const BakeSession&) = delete;

    // Adds a mesh, selected, from a mesh file (throws SessionError naming
    // the file), or from arrays: x, y, z for each vertex; three vertex
    // indices for each face; and, where given, u, v for each face's three
    // corners, as map channel 1. Its faces are in no smoothing group:
    // each corner takes its face's normal. Throws SessionError for indices
    // out of range or numbers that are not finite.
    void AddMeshFile(const std::string& path);
    void AddMesh(const std::string& name, const std::vector<float>& vertices, const std::vector<std::uint32_t>& faces,
                 const std::vector<float>& uvs = {});
    // A mesh its client read or built with every channel, smoothing group,
    // material and selection it holds; checked as a file's would be
    // (throws SessionError naming FILE.path).
    void AddMesh(MeshFile file);
    // Occluders: meshes that shade the one mesh added without being baked,
    // already in its space, and a ground plane under it on AXIS ("-x",
    // "+x", "-y", "+y", "-z" or "+z"; "" for none). Either ticks
    // "scene-occluders" before the settings are applied.
    void AddOccluderFile(const std::string& path);
    void AddOccluder(const std::string& name, const std::vector<float>& vertices,
                     const std::vector<std::uint32_t>& faces);
    void AddOccluder(MeshFile file);
    void SetGroundPlane(const std::string& axis);
    // High-poly sources, already in the mesh's space, whose surface a bake
    // takes instead of the mesh's own (equal hits go to the later one), and
    // the cage where the projection's rays start: the mesh's faces in its
    // order. A source ticks "high-poly" before the settings are applied.
    // KEEP_MISS_MAP keeps the map of where the projection missed.
    void AddSourceFile(const std::string& path);
    void AddSource(const std::string& name, const std::vector<float>& vertices, const std::vector<std::uint32_t>& faces);
    void AddSource(MeshFile file);
    void SetCage(MeshFile file);
    void KeepMissMap(bool keep);

    // The panel's options by the command's names, typed in order at the
    // next generation as a user would: the algorithm ("uv-map",
    // "vertex-colors", "spatial"), then numbers ("distance", "width" and
    // "height" for --size, "padding", ...), then check boxes ("noise",
    // "selected-only", ...).
    // Unset ones keep the plug-in's defaults. A name the panel lacks
    // fails the generation.
    void SetAlgorithm(const std::string& algorithm);
    void Type(const std::string& option, double value);
    void Tick(const std::string& option, bool on);

    // Where the output goes: an image file for a map, a mesh file for the
    // vertex colours of the one mesh; "" (the default) keeps it in memory
    // alone.
    void SetOutput(const std::string& path);
    // The worker threads; 0 (the default) for every processor available.
    void SetThreads(int threads);
    // A client's last word before "Generate", in the generation's turn
    // with the settings applied and the scene in HOST: its own refusals,
    // or a change of scale. What CHECK returns, when set, puts that change
    // back: it is called once the panel has closed, however the generation
    // ended, while HOST and its nodes still stand and before the output is
    // read or written. What CHECK throws ends the generation with the panel
    // closed, and leaves Generate.
    using Check = std::function<std::function<void()>(const Panel& panel, StandaloneHost& host)>;
    void SetCheck(Check check);
    // What a map file holds, as the command's --channels and --bit-depth:
    // CHANNELS "grey", "grey-alpha", "rgba", or "" for the format's own
    // (grey, grey and alpha with "coverage-alpha", RGBA for OpenEXR);
    // BIT_DEPTH 8 or 16, and 8 never for OpenEXR. The map kept in memory
    // is 16-bit whatever the file holds. Throws SessionError for others.
    void SetImageLayout(const std::string& channels, int bitDepth);

    // Opens the panel, applies the settings, generates and reads what the
    // run left, in its turn. Throws SessionError for a setting the panel
    // lacks, a ground plane's axis, an output of the wrong kind, or a panel
    // that cannot open.
    BakeOutcome Generate();

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dunsmere
