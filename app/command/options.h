// The command line of `dunsmere`: what a user can set on the panel, which
// files to read and write, and how the run talks to the terminal.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/image/image_files.h"
#include "app/session/bake_algorithm.h"

namespace dunsmere {

inline constexpr const char* kCommandVersion = "0.2.5";

struct CommandOptions {
    std::vector<std::string> meshes;
    std::string output;
    std::string pluginDir;  // empty: beside the executable
    std::string configDir;  // empty: the user's configuration directory

    // Panel controls; unset leaves the control as loaded from the settings.
    std::optional<BakeAlgorithm> algorithm;
    std::optional<float> distance, noiseSize;
    // The distance as a fraction of the mesh's size (--distance-relative).
    std::optional<double> distanceRelative;
    std::optional<int> horizontal, vertical, width, height, mapChannel, materialId;
    std::optional<bool> selectedOnly, noise, materialFilter, accumulate;
    // The options page's.
    std::optional<int> padding, supersample;
    std::optional<bool> coverageAlpha, invert, evenRing, sceneOccluders;
    std::optional<float> rayBias;

    // What a map file holds; unset: grey for PNG and TIFF (grey and alpha with
    // coverage alpha), RGBA for OpenEXR. Bits a sample: 8 or 16.
    std::optional<ImageChannels> channels;
    int bitDepth = 16;
    // The UDIM tiles an output naming <UDIM> bakes, ascending; empty: every
    // tile that holds a face.
    std::vector<int> tiles;

    // Meshes that only occlude (--occluder), and the axis of a ground plane
    // under the mesh: -x, +x, -y, +y, -z or +z. Either sets sceneOccluders.
    std::vector<std::string> occluders;
    std::optional<std::string> groundPlane;

    // A bake from high-poly meshes: their files in --high order, and the
    // cage's (each may be a pattern: app/command/batch.h); the projection's
    // reach in front of and behind the mesh, as fractions of its diagonal
    // (the panel's) or in its units (converted once it is read); the miss
    // map's file; and the share of misses past which a run fails.
    std::optional<bool> highPoly;
    std::vector<std::string> highs;
    std::string cage;
    std::optional<float> rayFront, rayRear;
    std::optional<std::pair<double, double>> rayDistance;
    std::string missMap;
    std::optional<double> maxMissShare;

    std::string select;               // a node name or index; one input only
    std::string selectFaces;          // "0-99,250"

    // Where the run's settings start from: the plug-in's defaults, a preset
    // (--preset), or what the last run that baked saved (--last).
    std::string preset;
    bool last = false;
    std::string writePreset;  // --write-preset: the settings the run used, as a preset

    bool defaults = false;  // no effect: every run starts from the defaults
    bool noSaveSettings = false;
    bool showSettings = false;
    bool about = false;
    bool version = false;  // print both versions: the command's, the plug-in's
    bool quiet = false;
    bool json = false;  // the results as JSON on stdout
    int debug = 0;  // 1: the plug-in's debug lines; 2: its lines for each triangle too
    int threads = 0;       // worker threads; 0: every processor the process may run on
    bool plain = false;    // hidden: every ray against every face, the reference
    bool timings = false;  // hidden: the run's phases on stderr at the end
    std::optional<bool> savePartial;
    double importLimits = 1.0;  // multiplies the mesh importer's limits; at least 1
    // Degrees, 0 to 180: the sharpest edge between faces that is still smooth
    // where a mesh file gives no normals; unset keeps the readers' own rules.
    std::optional<double> smoothAngle;
};

// The result of parsing: options to run with, or an exit (help, version,
// usage error) with its status and what to print.
struct ParseResult {
    std::optional<CommandOptions> options;
    int exitStatus = 0;
    std::string out;  // for stdout
    std::string err;  // for stderr
    bool help = false;  // the exit is --help's
    // Some number a panel spinner takes was given: its range was checked
    // against SPINNERS, or the option table's where they lack it.
    bool ranged = false;
};

// A panel spinner's limits and the value it shows at the plug-in's defaults,
// by the option that types into its edit.
struct SpinnerFacts {
    std::string option;
    float min = 0.0f, max = 0.0f, shown = 0.0f;
};

// With SPINNERS, --help states their ranges and defaults, and the numbers
// they take are checked against their ranges; without, or for an option
// none of them names, the option table's own.
ParseResult ParseCommandLine(int argc, const char* const* argv, const std::vector<SpinnerFacts>& spinners = {});

// Face indices first..last, both included.
struct FaceRange {
    int first = 0, last = 0;
    bool operator==(const FaceRange&) const = default;
};

// "0-99,250" as ascending ranges that neither overlap nor touch, however many
// faces they name: a selection is checked against a mesh and applied without
// ever listing its faces one by one. Nullopt when malformed.
std::optional<std::vector<FaceRange>> ParseFaceRanges(const std::string& text);

}  // namespace dunsmere
