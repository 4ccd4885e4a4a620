#include "app/command/options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string_view>
#include <tuple>
#include <utility>

#include "app/command/batch.h"
#include "app/command/did_you_mean.h"
#include "app/command/option_table.h"
#include "app/command/tiles.h"
#include "app/mesh/smoothing.h"

namespace dunsmere {

namespace {

const char* const kExamples = R"(
Examples:
  Bake a 1024 x 1024 map from map channel 1 of a mesh:
    dunsmere crate.obj --algorithm uv-map --size 1024x1024 --output crate-smurl.png
  Bake with the settings of a preset, changing one of them:
    dunsmere crate.obj --preset studio.ini --horizontal 12 --output crate-smurl.png
  Bake grey vertex colours, multiplying the colours already there:
    dunsmere crate.obj --algorithm vertex-colors --accumulate --output crate-dirty.ply
  Bake every mesh of a folder in turn, each to its own map:
    dunsmere props/*.obj --output 'maps/{stem}_smurl.png'
  Show the panel as the last bake left it, without baking:
    dunsmere --last --show-settings
  List a mesh's map channels, materials and smoothing groups (see info --help):
    dunsmere info crate.obj

Every run starts from the plug-in's defaults, or from a preset (--preset), or
from what the last bake saved (--last); an option not given means that
value. A bake saves its settings in Dunsmere.ini in the configuration
directory ($XDG_CONFIG_HOME/dunsmere, else ~/.config/dunsmere).

Exit status: 0 done; 1 refused, failed or nothing written; 2 usage or input
error; 70 internal check failed; 130 cancelled (143 on SIGTERM, 129 on SIGHUP).
)";

template <class T>
std::string RangeError(const char* option, T value, T lo, T hi)
{
    std::ostringstream s;
    s << "dunsmere: " << option << " " << value << " is outside its range " << lo << " to " << hi << "\n";
    return s.str();
}

consteval const OptionRow& Row(std::string_view name) { return OptionNamed(name); }

std::string Spelling(const OptionRow& row)
{
    if (row.kind == OptionKind::kInput) return row.name;
    const std::string name = std::string("--") + row.name;
    return row.shortName ? std::string("-") + row.shortName + "," + name : name;
}

// HELP with each placeholder replaced by its whole number.
std::string Filled(std::string help, std::initializer_list<std::pair<std::string_view, double>> values)
{
    for (const auto& [placeholder, value] : values)
        if (const size_t at = help.find(placeholder); at != std::string::npos)
            help.replace(at, placeholder.size(), std::to_string(static_cast<int>(value)));
    return help;
}

template <class T>
CLI::Option* Add(CLI::App& app, const OptionRow& row, T& target)
{
    return app.add_option(Spelling(row), target, row.help);
}

// A row without help is left out of --help.
CLI::Option* AddFlag(CLI::App& app, const OptionRow& row, bool& target)
{
    CLI::Option* flag = app.add_flag(Spelling(row), target, row.help ? row.help : "");
    return row.help ? flag : flag->group("");
}

// Adds --name / --no-name, the later one on the line winning.
void AddSwitch(CLI::App& app, const OptionRow& row, std::optional<bool>& target)
{
    app.add_flag_callback(Spelling(row), [&target] { target = true; }, row.help);
    app.add_flag_callback(std::string("--no-") + row.name, [&target] { target = false; }, "");
}

// "did you mean" lines for the arguments that look like options and name
// none: the nearest option --help shows, never a hidden one.
std::string Suggestions(const CLI::App& app, int argc, const char* const* argv)
{
    std::vector<std::string> known, visible;
    for (const CLI::Option* opt : app.get_options()) {
        const bool shown = !opt->get_group().empty();
        for (const std::string& n : opt->get_lnames()) {
            known.push_back("--" + n);
            if (shown) visible.push_back("--" + n);
        }
        for (const std::string& n : opt->get_snames()) known.push_back("-" + n);
    }
    std::string lines;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") break;
        if (arg.rfind("--", 0) != 0 || arg.size() < 3) continue;
        const std::string name = arg.substr(0, arg.find('='));
        if (std::find(known.begin(), known.end(), name) != known.end()) continue;
        const std::string nearest = NearestName(name, visible);
        if (!nearest.empty()) lines += "dunsmere: " + name + ": did you mean " + nearest + "?\n";
    }
    return lines;
}

}  // namespace

std::optional<std::vector<FaceRange>> ParseFaceRanges(const std::string& text)
{
    std::vector<FaceRange> ranges;
    std::stringstream in(text);
    std::string part;
    auto number = [](const std::string& s, int& out) {
        if (s.empty() || s.size() > 9 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        out = std::stoi(s);
        return true;
    };
    while (std::getline(in, part, ',')) {
        const size_t dash = part.find('-');
        int a = 0, b = 0;
        if (dash == std::string::npos) {
            if (!number(part, a)) return std::nullopt;
            b = a;
        } else if (!number(part.substr(0, dash), a) || !number(part.substr(dash + 1), b) || b < a) {
            return std::nullopt;
        }
        if (static_cast<long long>(b) - a > 50'000'000) return std::nullopt;
        ranges.push_back({a, b});
    }
    if (ranges.empty()) return std::nullopt;
    std::sort(ranges.begin(), ranges.end(), [](const FaceRange& x, const FaceRange& y) { return x.first < y.first; });
    std::vector<FaceRange> merged{ranges.front()};
    for (const FaceRange& r : ranges) {
        FaceRange& last = merged.back();
        // Ranges that overlap or touch become one.
        if (static_cast<long long>(r.first) <= static_cast<long long>(last.last) + 1)
            last.last = std::max(last.last, r.last);
        else
            merged.push_back(r);
    }
    return merged;
}

namespace {

// What the parser fills: the options it can set as they are, and the text
// and numbers that are converted and checked once the line is read.
struct Given {
    CommandOptions options;
    std::string algorithm, size, channels, groundPlane, savePartial, tiles;
    std::optional<float> distance, noiseSize, rayBias;
    std::optional<std::string> threads;
    std::optional<double> importLimits;
    std::string rayDistance, rayDistanceRelative;
    std::optional<float> rayFront, rayRear;
};

void RegisterOptions(CLI::App& app, Given& g)
{
    CommandOptions& o = g.options;
    app.footer(kExamples);
    // A repeated option takes its last value, so that a script can override
    // a base line; the options that gather (the meshes, --occluder) say so.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);

    // The options the table cannot bind alone, each registered its own way.
    std::vector<std::string> algorithms;
    for (const AlgorithmName& n : kAlgorithmNames) algorithms.emplace_back(n.name);
    CLI::Option* distanceOption = nullptr;
    CLI::Option* preset = nullptr;
    const std::map<std::string_view, std::function<void(const OptionRow&)>> own = {
        {"meshes",
         [&](const OptionRow& r) { Add(app, r, o.meshes)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll); }},
        {"output", [&](const OptionRow& r) { Add(app, r, o.output)->type_name("PATH"); }},
        {"algorithm", [&](const OptionRow& r) { Add(app, r, g.algorithm)->check(CLI::IsMember(algorithms)); }},
        {"distance", [&](const OptionRow& r) { distanceOption = Add(app, r, g.distance); }},
        {"distance-relative",
         [&](const OptionRow& r) { Add(app, r, o.distanceRelative)->type_name("F")->excludes(distanceOption); }},
        {"size", [&](const OptionRow& r) { Add(app, r, g.size); }},
        {"noise-size", [&](const OptionRow& r) { Add(app, r, g.noiseSize); }},
        {"ray-bias", [&](const OptionRow& r) { Add(app, r, g.rayBias)->type_name("F"); }},
        {"channels",
         [&](const OptionRow& r) { Add(app, r, g.channels)->check(CLI::IsMember({"grey", "grey-alpha", "rgba"})); }},
        {"bit-depth", [&](const OptionRow& r) { Add(app, r, o.bitDepth)->check(CLI::IsMember({8, 16})); }},
        {"occluder",
         [&](const OptionRow& r) {
             Add(app, r, o.occluders)
                 ->type_name("FILE")
                 ->allow_extra_args(false)
                 ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
         }},
        {"ground-plane",
         [&](const OptionRow& r) {
             Add(app, r, g.groundPlane)->type_name("AXIS")->check(CLI::IsMember({"-x", "+x", "-y", "+y", "-z", "+z"}));
         }},
        {"tiles", [&](const OptionRow& r) { Add(app, r, g.tiles)->type_name("LIST"); }},
        {"high",
         [&](const OptionRow& r) {
             Add(app, r, o.highs)
                 ->type_name("FILE")
                 ->allow_extra_args(false)
                 ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
         }},
        {"cage", [&](const OptionRow& r) { Add(app, r, o.cage)->type_name("FILE"); }},
        {"ray-front", [&](const OptionRow& r) { Add(app, r, g.rayFront)->type_name("F"); }},
        {"ray-rear", [&](const OptionRow& r) { Add(app, r, g.rayRear)->type_name("F"); }},
        {"ray-distance", [&](const OptionRow& r) { Add(app, r, g.rayDistance)->type_name("FRONT[:REAR]"); }},
        {"ray-distance-relative",
         [&](const OptionRow& r) { Add(app, r, g.rayDistanceRelative)->type_name("FRONT[:REAR]"); }},
        {"miss-map", [&](const OptionRow& r) { Add(app, r, o.missMap)->type_name("PATH"); }},
        {"max-miss-share", [&](const OptionRow& r) { Add(app, r, o.maxMissShare)->type_name("X"); }},
        {"select", [&](const OptionRow& r) { Add(app, r, o.select); }},
        {"select-faces", [&](const OptionRow& r) { Add(app, r, o.selectFaces); }},
        {"preset", [&](const OptionRow& r) { preset = Add(app, r, o.preset)->type_name("FILE"); }},
        {"last", [&](const OptionRow& r) { AddFlag(app, r, o.last)->excludes(preset); }},
        {"write-preset", [&](const OptionRow& r) { Add(app, r, o.writePreset)->type_name("FILE"); }},
        {"defaults", [&](const OptionRow& r) { AddFlag(app, r, o.defaults); }},
        {"no-save-settings", [&](const OptionRow& r) { AddFlag(app, r, o.noSaveSettings); }},
        {"config-dir", [&](const OptionRow& r) { Add(app, r, o.configDir)->type_name("DIR"); }},
        {"plugins", [&](const OptionRow& r) { Add(app, r, o.pluginDir)->type_name("DIR"); }},
        {"show-settings", [&](const OptionRow& r) { AddFlag(app, r, o.showSettings); }},
        {"about", [&](const OptionRow& r) { AddFlag(app, r, o.about); }},
        {"version", [&](const OptionRow& r) { AddFlag(app, r, o.version); }},
        {"threads", [&](const OptionRow& r) { Add(app, r, g.threads)->type_name("N"); }},
        {"quiet", [&](const OptionRow& r) { AddFlag(app, r, o.quiet); }},
        {"json", [&](const OptionRow& r) { AddFlag(app, r, o.json); }},
        // A bare --debug is level 1; --debug=2 names the level.
        {"debug", [&](const OptionRow& r) { app.add_flag(Spelling(r), o.debug, r.help); }},
        {"plain", [&](const OptionRow& r) { AddFlag(app, r, o.plain); }},
        {"timings", [&](const OptionRow& r) { AddFlag(app, r, o.timings); }},
        {"save-partial", [&](const OptionRow& r) { Add(app, r, g.savePartial)->check(CLI::IsMember({"yes", "no"})); }},
        {"import-limits", [&](const OptionRow& r) { Add(app, r, g.importLimits)->type_name("F"); }},
        {"smooth-angle",
         [&](const OptionRow& r) {
             app.add_option(Spelling(r), o.smoothAngle,
                            Filled(r.help, {{"{max}", kMaxSmoothAngle}, {"{default}", kDefaultSmoothAngle}}))
                 ->type_name("DEG");
         }},
    };
    // In the table's order, which is --help's.
    for (const OptionRow& row : kOptionRows) {
        if (const auto count = row.value.count) {
            CLI::Option* option = Add(app, row, o.*count);
            if (row.value.typeName) option->type_name(row.value.typeName);
        } else if (const auto tick = row.value.tick) {
            AddSwitch(app, row, o.*tick);
        } else {
            own.at(row.name)(row);
        }
    }
}

// The limits an option set through a panel spinner must keep: the
// spinner's, as the plug-in sets it up, or where the plug-in could not be
// asked, the "A to B" its help states.
std::pair<double, double> SpinnerRange(const OptionRow& row, const std::vector<SpinnerFacts>& spinners)
{
    for (const SpinnerFacts& spinner : spinners)
        if (spinner.option == row.name) return {spinner.min, spinner.max};
    static const std::regex kRange(R"((\d+(\.\d+)?) to (\d+(\.\d+)?))");
    std::cmatch m;
    if (!row.help || !std::regex_search(row.help, m, kRange)) return {-HUGE_VAL, HUGE_VAL};
    return {std::stod(m[1].str()), std::stod(m[3].str())};
}

// "FRONT" or "FRONT:REAR", finite and at least 0; FRONT alone is both.
std::optional<std::pair<double, double>> ParseReach(const std::string& text)
{
    const std::size_t colon = text.find(':');
    const auto number = [](std::string_view s) -> std::optional<double> {
        double v = 0.0;
        const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), v);
        if (error != std::errc() || end != s.data() + s.size() || !std::isfinite(v) || v < 0.0) return std::nullopt;
        return v;
    };
    const std::string_view all(text);
    const std::optional<double> front = number(all.substr(0, colon));
    const std::optional<double> rear = colon == std::string::npos ? front : number(all.substr(colon + 1));
    if (!front || !rear) return std::nullopt;
    return std::pair{*front, *rear};
}

// G's text and numbers as options, each checked on its own, the numbers a
// spinner takes against SPINNERS' ranges; a usage message when one is
// refused. RANGED tells whether any such number was given.
std::string ConvertGiven(Given& g, const std::vector<SpinnerFacts>& spinners, bool& ranged)
{
    CommandOptions& o = g.options;
    if (!g.algorithm.empty()) o.algorithm = AlgorithmNamed(g.algorithm);
    if (!g.savePartial.empty()) o.savePartial = g.savePartial == "yes";
    if (!g.channels.empty()) o.channels = ImageChannelsNamed(g.channels);
    if (!g.groundPlane.empty()) o.groundPlane = g.groundPlane;
    if (!g.tiles.empty()) {
        const std::optional<std::vector<int>> tiles = ParseTiles(g.tiles);
        if (!tiles)
            return "dunsmere: --tiles " + g.tiles + ": give tile numbers " + std::to_string(kFirstTile) +
                   " to " + std::to_string(kLastTile) + " and ranges, for example 1001,1003-1005\n";
        o.tiles = *tiles;
    }

    if (!g.size.empty()) {
        int w = 0, h = 0;
        char x = 0, extra = 0;
        std::istringstream s(g.size);
        if (!(s >> w >> x >> h) || (x != 'x' && x != 'X') || (s >> extra))
            return "dunsmere: --size wants WxH, for example 1024x1024\n";
        o.width = w;
        o.height = h;
    }
    if (g.distance) {
        if (!std::isfinite(*g.distance) || !(*g.distance > 0.0f))
            return "dunsmere: --distance wants a finite number above 0\n";
        o.distance = g.distance;
    }
    if (o.distanceRelative && (!std::isfinite(*o.distanceRelative) || !(*o.distanceRelative > 0.0)))
        return "dunsmere: --distance-relative wants a finite number above 0\n";
    if (g.noiseSize) {
        ranged = true;
        const auto [lo, hi] = SpinnerRange(Row("noise-size"), spinners);
        const double size = static_cast<double>(*g.noiseSize);
        if (!std::isfinite(size) || size < lo || size > hi)
            return RangeError("--noise-size", *g.noiseSize, static_cast<float>(lo), static_cast<float>(hi));
        o.noiseSize = g.noiseSize;
    }
    if (g.rayBias) {
        if (!(*g.rayBias >= 0.0f && *g.rayBias < 1.0f))
            return "dunsmere: --ray-bias wants a number from 0 up to but not 1\n";
        o.rayBias = g.rayBias;
    }
    for (const OptionRow& row : kOptionRows) {
        const std::optional<int>* value = row.value.count ? &(o.*row.value.count) : nullptr;
        if (!value || !*value) continue;
        ranged = true;
        const auto [lo, hi] = SpinnerRange(row, spinners);
        if (**value < lo || **value > hi)
            return RangeError(("--" + std::string(row.name)).c_str(), **value, static_cast<int>(lo),
                              static_cast<int>(hi));
    }
    const std::pair<const std::string*, const char*> reaches[] = {{&g.rayDistance, "--ray-distance"},
                                                                 {&g.rayDistanceRelative, "--ray-distance-relative"}};
    for (const auto& [text, name] : reaches) {
        if (text->empty()) continue;
        const std::optional<std::pair<double, double>> reach = ParseReach(*text);
        const bool relative = text == &g.rayDistanceRelative;
        if (!reach || (relative && (reach->first > 1.0 || reach->second > 1.0)))
            return std::string("dunsmere: ") + name + " wants FRONT or FRONT:REAR, each a number from 0" +
                   (relative ? " to 1" : "") + "\n";
        if (relative) {
            o.rayFront = static_cast<float>(reach->first);
            o.rayRear = static_cast<float>(reach->second);
        } else {
            o.rayDistance = reach;
        }
    }
    for (const auto& [given, name, field] : {std::tuple{&g.rayFront, "--ray-front", &o.rayFront},
                                            std::tuple{&g.rayRear, "--ray-rear", &o.rayRear}}) {
        if (!*given) continue;
        if (field->has_value()) return std::string("dunsmere: ") + name + " and --ray-distance-relative contradict each other\n";
        if (!(**given >= 0.0f && **given <= 1.0f)) return std::string("dunsmere: ") + name + " wants a number from 0 to 1\n";
        *field = *given;
    }
    if (o.maxMissShare && !(*o.maxMissShare >= 0.0 && *o.maxMissShare <= 1.0))
        return "dunsmere: --max-miss-share wants a number from 0 to 1\n";
    if (g.threads && *g.threads != "all") {
        int n = 0;
        const char* end = g.threads->data() + g.threads->size();
        const auto [at, error] = std::from_chars(g.threads->data(), end, n);
        if (error != std::errc() || at != end || n < 1 || n > 256)
            return "dunsmere: --threads wants a number from 1 to 256, or all\n";
        o.threads = n;
    }
    if (g.importLimits) {
        if (!std::isfinite(*g.importLimits) || *g.importLimits < 1.0)
            return "dunsmere: --import-limits wants a number of at least 1\n";
        o.importLimits = *g.importLimits;
    }
    if (o.smoothAngle &&
        (!std::isfinite(*o.smoothAngle) || *o.smoothAngle < 0.0 || *o.smoothAngle > kMaxSmoothAngle))
        return RangeError("--smooth-angle", *o.smoothAngle, 0.0, kMaxSmoothAngle);
    if (!o.selectFaces.empty() && !ParseFaceRanges(o.selectFaces))
        return "dunsmere: --select-faces wants ranges such as 0-99,250\n";
    return "";
}

// The options against one another; a usage message when they contradict.
// NOTES gets what the line implies without saying.
std::string CrossCheck(CommandOptions& o, std::string& notes)
{
    // The finer map a supersampled bake computes has sides of at most 32768.
    constexpr long long kMaxSupersampledSide = 32768;
    for (const std::optional<int>& side : {o.width, o.height})
        if (o.supersample && *o.supersample > 1 && side &&
            static_cast<long long>(*o.supersample) * *side > kMaxSupersampledSide) {
            std::ostringstream s;
            s << "dunsmere: --supersample " << *o.supersample << " makes a side of " << *o.supersample * *side
              << " texels, above " << kMaxSupersampledSide << "\n";
            return s.str();
        }
    if (!o.select.empty() && o.meshes.size() > 1)
        return "dunsmere: --select picks a node of one input; " + std::to_string(o.meshes.size()) +
               " inputs are baked each on its own\n";

    const bool bakes = !o.showSettings && !o.about && !o.version;
    if (bakes && o.meshes.empty()) return "dunsmere: no mesh file given (see --help)\n";
    // The output is a fact of one run: only the line names it, never a
    // preset or the last run's settings.
    if (bakes && o.output.empty()) return "dunsmere: --output PATH is required\n";
    if (o.output == "-")
        return "dunsmere: --output -: a bake writes a file, not standard output (./- names a file called -)\n";
    if (const std::string why = PatternError(o.output); !why.empty()) return "dunsmere: " + why + "\n";
    if (!o.tiles.empty() && !o.output.empty() && !NamesTile(o.output))
        return "dunsmere: --tiles picks UDIM tiles: the output must name them with <UDIM> or {udim}\n";
    if (o.bitDepth == 8 && ImageFormatOf(o.output) == ImageFormat::kExr)
        return "dunsmere: --bit-depth 8: an OpenEXR map holds half floats; write .png or .tif for 8 bits\n";

    // Occluders and a ground plane shadow nothing unless the scene's
    // occluders enter the bake.
    if (!o.occluders.empty() || o.groundPlane) {
        const char* given = o.occluders.empty() ? "--ground-plane" : "--occluder";
        if (o.sceneOccluders == false)
            return std::string("dunsmere: ") + given + " and --no-scene-occluders contradict each other\n";
        o.sceneOccluders = true;
    }

    // A high-poly mesh given is one to bake from; the projection's options
    // mean nothing without one.
    if (!o.highs.empty()) {
        if (o.highPoly == false) return "dunsmere: --high and --no-high-poly contradict each other\n";
        o.highPoly = true;
    } else {
        for (const auto& [given, name] : {std::pair{!o.cage.empty(), "--cage"},
                                          {o.rayDistance.has_value(), "--ray-distance"},
                                          {!o.missMap.empty(), "--miss-map"},
                                          {o.maxMissShare.has_value(), "--max-miss-share"}})
            if (given) return std::string("dunsmere: ") + name + " needs a high-poly mesh: give --high FILE\n";
    }
    if (o.rayDistance && (o.rayFront || o.rayRear))
        return "dunsmere: --ray-distance and a relative reach (--ray-distance-relative, --ray-front, --ray-rear) "
               "contradict each other\n";
    if (!o.missMap.empty()) {
        if (const std::string why = PatternError(o.missMap); !why.empty())
            return "dunsmere: " + std::regex_replace(why, std::regex("^--output"), "--miss-map") + "\n";
        if (o.algorithm == BakeAlgorithm::kVertexColors || (!o.output.empty() && !IsSupportedImagePath(o.output)))
            return "dunsmere: --miss-map: vertex colours have no map of misses; the command prints their count\n";
        if (!IsSupportedImagePath(o.missMap))
            return "dunsmere: --miss-map " + o.missMap + ": write " + SupportedImageExtensions() + "\n";
    }

    // A face selection means nothing unless the bake keeps to it.
    if (!o.selectFaces.empty() && !o.selectedOnly) {
        o.selectedOnly = true;
        if (!o.quiet) notes = "dunsmere: --select-faces implies --selected-only\n";
    }
    return "";
}

// A number as --help writes it: whole numbers without a point.
std::string HelpNumber(float v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string();
}

// The row's help with the spinner's range ("A to B") and default
// ("(default C") in place of the table's.
void DescribeSpinner(CLI::App& app, const SpinnerFacts& spinner)
{
    const auto row = std::find_if(std::begin(kOptionRows), std::end(kOptionRows),
                                  [&](const OptionRow& r) { return r.panelKey && spinner.option == r.name; });
    CLI::Option* option = row == std::end(kOptionRows) ? nullptr : app.get_option_no_throw("--" + spinner.option);
    if (!option || !row->help) return;
    static const std::regex kRange(R"(\d+(\.\d+)? to \d+(\.\d+)?)"), kDefault(R"(\(default \d+(\.\d+)?)");
    const std::string range = HelpNumber(spinner.min) + " to " + HelpNumber(spinner.max);
    std::string help = std::regex_replace(row->help, kRange, range, std::regex_constants::format_first_only);
    help = std::regex_replace(help, kDefault, "(default " + HelpNumber(spinner.shown),
                              std::regex_constants::format_first_only);
    option->description(help);
}

}  // namespace

ParseResult ParseCommandLine(int argc, const char* const* argv, const std::vector<SpinnerFacts>& spinners)
{
    CLI::App app{"Bakes the smurl occlusion value of a mesh into a 16-bit grey map or grey vertex colours.",
                 "dunsmere"};
    Given given;
    RegisterOptions(app, given);
    for (const SpinnerFacts& spinner : spinners) DescribeSpinner(app, spinner);

    // An axis such as "-x" would be read as an option of its own: it is
    // joined to its option, as "--ground-plane=-x" is written.
    std::vector<std::string> joined(argv, argv + argc);
    for (size_t i = 1; i + 1 < joined.size(); ++i)
        if (joined[i] == "--ground-plane") {
            joined[i] += "=" + joined[i + 1];
            joined.erase(joined.begin() + static_cast<std::ptrdiff_t>(i) + 1);
        } else if (joined[i] == "--") {
            break;
        }
    std::vector<const char*> args;
    for (const std::string& a : joined) args.push_back(a.c_str());
    argc = static_cast<int>(args.size());
    argv = args.data();

    ParseResult result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::ostringstream out, err;
        result.exitStatus = e.get_exit_code() == 0 ? 0 : 2;
        result.help = dynamic_cast<const CLI::CallForHelp*>(&e) != nullptr;
        app.exit(e, out, err);
        result.out = out.str();
        result.err = err.str();
        if (dynamic_cast<const CLI::ExtrasError*>(&e)) result.err += Suggestions(app, argc, argv);
        return result;
    }

    std::string why = ConvertGiven(given, spinners, result.ranged);
    if (why.empty()) why = CrossCheck(given.options, result.err);
    if (!why.empty()) {
        result.exitStatus = 2;
        result.err = std::move(why);
        return result;
    }
    result.options = std::move(given.options);
    return result;
}

}  // namespace dunsmere
