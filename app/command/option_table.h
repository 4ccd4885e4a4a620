// Every option of `dunsmere`, named and explained once: the parser
// registers these rows, and a preset's keys are read as the rows they name.
#pragma once

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

#include "app/command/options.h"

namespace dunsmere {

enum class OptionKind {
    kInput,   // the positional mesh files
    kValue,   // --name VALUE
    kChoice,  // --name VALUE, one of a fixed list
    kSwitch,  // --name and --no-name
    kFlag,    // --name alone
};

// Where CommandOptions keeps the value a panel control takes. Every such
// value is typed or ticked on the panel by the table, in the table's order.
// A whole number or a check box, taken as given, is also registered and
// checked against its spinner's range by the table alone; a real number
// (a distance in mesh units) the parser converts on its own.
struct PanelValue {
    std::optional<int> CommandOptions::*count = nullptr;
    std::optional<bool> CommandOptions::*tick = nullptr;
    std::optional<float> CommandOptions::*real = nullptr;
    const char* typeName = nullptr;  // --help's name for a count's value
};
constexpr PanelValue Count(std::optional<int> CommandOptions::*field, const char* typeName = nullptr)
{
    return {field, nullptr, nullptr, typeName};
}
constexpr PanelValue Tick(std::optional<bool> CommandOptions::*field) { return {nullptr, field, nullptr, nullptr}; }
constexpr PanelValue Real(std::optional<float> CommandOptions::*field) { return {nullptr, nullptr, field, nullptr}; }

struct OptionRow {
    const char* name;  // without "--"
    OptionKind kind;
    // Null keeps the option out of --help. "{max}" and "{default}" stand for
    // limits the parser knows from elsewhere.
    const char* help;
    // The plug-in's settings key of the panel control the option sets.
    const char* panelKey = nullptr;
    PanelValue value = {};
    char shortName = 0;
};

inline constexpr OptionRow kOptionRows[] = {
    {"meshes", OptionKind::kInput,
     "The mesh files (OBJ, PLY, STL, glTF/GLB, FBX, 3DS, Collada, ...), baked in turn, each on its own."},
    {"output", OptionKind::kValue,
     "The output file, which every bake needs: an image (.png, .tif, .tiff, .exr) or a mesh (.obj, .ply, .glb, "
     ".gltf). {stem}, {name}, {ext}, {channel} and {index} name each input's, and {{ writes a brace; <UDIM> or "
     "{udim} bakes a map per UDIM tile, named by its number. Standard output (-) is not taken.",
     nullptr, {}, 'o'},
    {"algorithm", OptionKind::kChoice, "What to bake: uv-map, vertex-colors or spatial (default uv-map).",
     "algorithm"},
    {"distance", OptionKind::kValue,
     "The maximum ray distance in mesh units, any positive number (default 30). Outside 1 to 100000 the mesh is "
     "scaled by a power of two.",
     "dist", Real(&CommandOptions::distance)},
    {"distance-relative", OptionKind::kValue,
     "The distance as F times the diagonal of the mesh's bounding box (instead of --distance)."},
    {"horizontal", OptionKind::kValue, "Rays per ring, 0 to 24 (default 8).",
     "horizontalSpread", Count(&CommandOptions::horizontal)},
    {"vertical", OptionKind::kValue, "Rings of rays, 0 to 10 (default 1).",
     "verticalSpread", Count(&CommandOptions::vertical)},
    {"size", OptionKind::kValue, "The map size in texels, WxH, each 50 to 4096 (default 200x200)."},
    {"width", OptionKind::kValue, "The map width in texels, 50 to 4096 (default 200).",
     "XSiz", Count(&CommandOptions::width)},
    {"height", OptionKind::kValue, "The map height in texels, 50 to 4096 (default 200).",
     "YSiz", Count(&CommandOptions::height)},
    {"map-channel", OptionKind::kValue, "The map channel of the UV layout, 1 to 99 (default 1).",
     "mapChannel", Count(&CommandOptions::mapChannel)},
    {"selected-only", OptionKind::kSwitch,
     "Bake only the selected faces (default off; --no-selected-only bakes all).",
     "selectedOnly", Tick(&CommandOptions::selectedOnly)},
    {"noise", OptionKind::kSwitch, "Modulate the map by 3-D noise (default off).",
     "noiseOn", Tick(&CommandOptions::noise)},
    {"noise-size", OptionKind::kValue, "The size of the noise in mesh units, 0 to 100000 (default 25).",
     "noiseSize", Real(&CommandOptions::noiseSize)},
    {"material-filter", OptionKind::kSwitch,
     "Bake only the faces of --material-id (default off; --no-material-filter bakes all).",
     "mtlIDOn", Tick(&CommandOptions::materialFilter)},
    {"material-id", OptionKind::kValue, "The material ID the filter keeps, 1 to 100 (default 1).",
     "mtlID", Count(&CommandOptions::materialId)},
    {"accumulate", OptionKind::kSwitch,
     "Multiply the vertex colours already there (default off; --no-accumulate replaces them).",
     "addVertexColors", Tick(&CommandOptions::accumulate)},
    {"padding", OptionKind::kValue, "Texels of padding grown around the map's faces, 0 to 64 (default 1).",
     "padding", Count(&CommandOptions::padding, "N")},
    {"supersample", OptionKind::kValue, "Compute the map S times finer each way and average, 1 to 8 (default 1).",
     "supersample", Count(&CommandOptions::supersample, "S")},
    {"ray-bias", OptionKind::kValue,
     "Rays look past hits nearer than F times the distance, 0 up to but not 1 (default 0: none). For a bake "
     "from a high mesh, or on coarse faces with smooth normals, try 0.001.",
     "rayBias", Real(&CommandOptions::rayBias)},
    {"coverage-alpha", OptionKind::kSwitch,
     "Alpha holds the share of each texel the faces cover (default off: opaque).",
     "coverageAlpha", Tick(&CommandOptions::coverageAlpha)},
    {"channels", OptionKind::kChoice,
     "What a map file holds: grey, grey-alpha or rgba (default grey for PNG and TIFF, grey-alpha with "
     "--coverage-alpha, and rgba for OpenEXR)."},
    {"bit-depth", OptionKind::kChoice, "Bits a sample of a PNG or TIFF map, 8 or 16 (default 16)."},
    {"tiles", OptionKind::kValue,
     "The UDIM tiles to bake when the output names <UDIM>, e.g. 1001,1003-1005 (default: every tile a face lies "
     "in)."},
    {"invert", OptionKind::kSwitch, "White is open: reached levels become 65535 - level (default off).",
     "invertLevels", Tick(&CommandOptions::invert)},
    {"even-ring", OptionKind::kSwitch, "The ring's azimuths spread evenly over 360 degrees (default off).",
     "evenRing", Tick(&CommandOptions::evenRing)},
    {"scene-occluders", OptionKind::kSwitch,
     "The scene's occluder meshes shadow the bake (default off: only the mesh itself).",
     "sceneOccluders", Tick(&CommandOptions::sceneOccluders)},
    {"occluder", OptionKind::kValue,
     "A mesh that only occludes. It may be given again, and implies --scene-occluders."},
    {"ground-plane", OptionKind::kChoice,
     "A ground plane under the mesh, facing it: -x, +x, -y, +y, -z or +z (default none). It implies "
     "--scene-occluders."},
    {"high-poly", OptionKind::kSwitch,
     "Bake from the high-poly meshes given with --high (default off; --high implies it).", "highPoly",
     Tick(&CommandOptions::highPoly)},
    {"high", OptionKind::kValue,
     "Bake from this high-poly mesh, projected onto the input's map or vertex colours; it may be given again "
     "(equal hits go to the later file). In a batch, one file for every input, or a pattern with the output's "
     "placeholders and {base}, the input's stem without a trailing _low."},
    {"cage", OptionKind::kValue,
     "Rays start on this cage: the input's faces in the input's order, pushed out (a pattern as --high's)."},
    {"ray-front", OptionKind::kValue,
     "How far in front of the mesh the projection starts, as F times its diagonal, 0 to 1 (default 0.02).",
     "rayFront", Real(&CommandOptions::rayFront)},
    {"ray-rear", OptionKind::kValue,
     "How far behind the mesh the projection still looks, as F times its diagonal, 0 to 1 (default 0.02).",
     "rayRear", Real(&CommandOptions::rayRear)},
    {"ray-distance", OptionKind::kValue,
     "How far the projection looks in front of and behind the mesh, FRONT[:REAR] in mesh units (default 0.02 "
     "of the mesh's diagonal each)."},
    {"ray-distance-relative", OptionKind::kValue,
     "Both at once, as --ray-front and --ray-rear, FRONT[:REAR]."},
    {"miss-map", OptionKind::kValue,
     "Also write a map of where the projection missed: each texel's share of samples that missed, white for "
     "all. A pattern as --output's."},
    {"max-miss-share", OptionKind::kValue,
     "After writing, fail (status 1) when more than X of the samples missed, 0 to 1."},
    {"select", OptionKind::kValue, "Select only this node, by name or index (one input only; default all)."},
    {"select-faces", OptionKind::kValue, "The face selection of the selected node, such as 0-99,250 (default none)."},
    {"preset", OptionKind::kValue, "Start from this settings file instead of the defaults."},
    {"last", OptionKind::kFlag, "Start from the settings the last bake saved."},
    {"write-preset", OptionKind::kValue, "Write the settings this run used as a preset."},
    {"defaults", OptionKind::kFlag, "No effect: every run starts from the defaults."},
    {"no-save-settings", OptionKind::kFlag, "Save nothing in the configuration directory."},
    {"config-dir", OptionKind::kValue,
     "The configuration directory, where a bake saves its settings (default $XDG_CONFIG_HOME/dunsmere, else "
     "~/.config/dunsmere)."},
    {"plugins", OptionKind::kValue, "The plug-in folder (default: plugins beside the executable)."},
    {"show-settings", OptionKind::kFlag, "Print the panel and exit without saving."},
    {"about", OptionKind::kFlag, "Print the About box and exit."},
    {"version", OptionKind::kFlag, "Print the command's and the plug-in's versions and exit."},
    {"threads", OptionKind::kValue,
     "Worker threads, 1 to 256, or all (default all: every processor this process may use)."},
    {"quiet", OptionKind::kFlag, "Print no progress bar and no warnings.", nullptr, {}, 'q'},
    {"json", OptionKind::kFlag, "Print the results as JSON on stdout."},
    {"debug", OptionKind::kFlag,
     "Print the plug-in's debug lines on stderr; --debug=2 adds its lines for each triangle."},
    // The reference route, for checking and timing the fast one.
    {"plain", OptionKind::kFlag, nullptr},
    // Where a bake's time went, for the benchmarks.
    {"timings", OptionKind::kFlag, nullptr},
    {"save-partial", OptionKind::kChoice,
     "After a cancel, save the partial map: yes or no (default: ask on a terminal, else no)."},
    {"import-limits", OptionKind::kValue,
     "Multiply the mesh importer's limits on memory, CPU time and stack by F, at least 1 (default 1)."},
    {"smooth-angle", OptionKind::kValue,
     "Faces meeting at up to DEG degrees are smooth where a mesh file gives no normals, 0 to {max} (default "
     "{default}; an OBJ keeps its s groups)."},
};

// The row of NAME; a name no row has fails to compile.
consteval const OptionRow& OptionNamed(std::string_view name)
{
    const auto* row = std::find_if(std::begin(kOptionRows), std::end(kOptionRows),
                                   [&](const OptionRow& r) { return name == r.name; });
    if (row == std::end(kOptionRows)) throw "no option has this name";
    return *row;
}

}  // namespace dunsmere
