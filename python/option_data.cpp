#include "python/option_data.h"

#include <pybind11/stl.h>

#include <cmath>
#include <optional>
#include <string_view>

#include "app/command/command.h"
#include "app/command/config_dir.h"
#include "app/command/option_table.h"
#include "app/command/panel_options.h"
#include "app/command/presets.h"
#include "app/session/bake_turn.h"
#include "app/session/edit_session.h"
#include "app/session/panel_settings.h"
#include "app/session/plugins.h"
#include "app/session/standalone_host.h"
#include "python/mesh_arrays.h"

namespace py = pybind11;

namespace dunsmere {
namespace {

// Rows of the table a script does not name: the panel's controls that other
// keywords stand for, and the command's own business.
bool Hidden(std::string_view name)
{
    for (std::string_view each : {"algorithm", "width", "height", "material-filter", "scene-occluders"})
        if (name == each) return true;
    return false;
}

// The keywords that are no panel control, each a row of the table.
constexpr std::string_view kSceneOptions[] = {"size", "distance-relative", "occluder", "ground-plane", "high", "cage",
                                              "ray-distance", "threads", "preset"};

std::string PythonName(std::string_view option)
{
    std::string name(option);
    for (char& c : name)
        if (c == '-') c = '_';
    return name == "occluder" ? "occluders" : name;
}

bool IsSceneOption(std::string_view option)
{
    for (std::string_view each : kSceneOptions)
        if (option == each) return true;
    return false;
}

// The rows a bake takes, in the table's order.
template <class Each>
void ForEachOption(Each&& each)
{
    for (const OptionRow& row : kOptionRows)
        if ((row.panelKey && !Hidden(row.name)) || IsSceneOption(row.name)) each(row);
}

double Number(const py::handle& value, const std::string& name)
{
    if (py::isinstance<py::bool_>(value) || !(py::isinstance<py::int_>(value) || py::isinstance<py::float_>(value)))
        throw py::type_error(name + ": a number, not " + std::string(py::str(py::type::of(value).attr("__name__"))));
    const double n = value.cast<double>();
    if (!std::isfinite(n)) throw py::value_error(name + ": not finite");
    return n;
}

// FRONT, or (FRONT, REAR), each at least 0.
std::pair<double, double> Reach(const py::handle& value, const std::string& name)
{
    py::object front = py::reinterpret_borrow<py::object>(value), rear = front;
    if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
        const py::sequence pair = py::reinterpret_borrow<py::sequence>(value);
        if (py::len(pair) != 2) throw py::value_error(name + ": a number or (front, rear)");
        front = pair[0];
        rear = pair[1];
    }
    const std::pair<double, double> reach{Number(front, name), Number(rear, name)};
    if (!(reach.first >= 0.0 && reach.second >= 0.0)) throw py::value_error(name + ": each at least 0");
    return reach;
}

// A dunsmere.Mesh, or TypeError naming the keyword.
std::shared_ptr<const MeshFile> MeshArgument(const py::handle& value, const std::string& name)
{
    if (!py::isinstance<PyMesh>(value))
        throw py::type_error(name + ": a dunsmere.Mesh, not " +
                             std::string(py::str(py::type::of(value).attr("__name__"))));
    return value.cast<const PyMesh&>().file;
}

bool Switch(const py::handle& value, const std::string& name)
{
    if (!py::isinstance<py::bool_>(value)) throw py::type_error(name + ": True or False");
    return value.cast<bool>();
}

// The panel without settings of its own: the plug-in's defaults, in the bake's
// turn, waited for without the GIL. STEPS must not touch Python.
template <class Steps>
void WithPanel(const std::string& configDir, Steps&& steps)
{
    const py::gil_scoped_release released;
    const FoundPlugin plugin = LoadDunsmere("");
    StandaloneHost host(configDir, HostHooks{});
    host.printDialogs = false;
    TimedBitmapManager bitmaps("", host.timings);
    WithUtilityOpen(BakeTurn(nullptr), host, bitmaps, plugin, [&](const Panel& panel) { steps(panel, host); });
}

// A scratch configuration directory for one look at the panel: the user's
// is never written.
CommandOptions Scratch(const std::string& preset = "")
{
    CommandOptions o;
    o.quiet = true;
    o.noSaveSettings = true;
    o.preset = preset;
    return o;
}

}  // namespace

BakeRequest RequestOf(const std::string& algorithm, const py::dict& options)
{
    BakeRequest r;
    r.settings.algorithm = algorithm;
    for (const auto& [key, value] : options) {
        const std::string name = key.cast<std::string>();
        bool known = false;
        ForEachOption([&](const OptionRow& row) { known = known || PythonName(row.name) == name; });
        if (!known) throw py::type_error("no option is named " + name);
    }
    ForEachOption([&](const OptionRow& row) {
        const std::string name = PythonName(row.name);
        if (!options.contains(name) || options[name.c_str()].is_none()) return;
        const py::object value = options[name.c_str()];
        const std::string_view option = row.name;
        if (option == "size") {
            py::object w = value, h = value;
            if (py::isinstance<py::tuple>(value) || py::isinstance<py::list>(value)) {
                const py::sequence pair = value;
                if (py::len(pair) != 2) throw py::value_error("size: an int or (width, height)");
                w = pair[0];
                h = pair[1];
            }
            r.settings.numbers.emplace_back("width", Number(w, "size"));
            r.settings.numbers.emplace_back("height", Number(h, "size"));
        } else if (option == "distance-relative") {
            const double f = Number(value, name);
            if (!(f > 0.0)) throw py::value_error(name + ": above 0");
            if (options.contains("distance") && !options["distance"].is_none())
                throw py::value_error("distance and distance_relative: one or the other");
            r.distanceRelative = f;
        } else if (option == "occluder") {
            for (const py::handle each : value) r.occluders.push_back(MeshArgument(each, name));
        } else if (option == "ground-plane") {
            r.groundPlane = value.cast<std::string>();
        } else if (option == "high") {
            for (const py::handle each : value) r.sources.push_back(MeshArgument(each, name));
        } else if (option == "cage") {
            r.cage = MeshArgument(value, name);
        } else if (option == "ray-distance") {
            r.rayDistance = Reach(value, name);
        } else if (option == "threads") {
            const double n = Number(value, name);
            if (n < 0 || n > 256 || std::trunc(n) != n) throw py::value_error("threads: 0 (all) to 256");
            r.threads = static_cast<int>(n);
        } else if (option == "preset") {
            throw py::value_error("preset: read with read_preset");
        } else if (option == "material-id") {
            r.settings.ticks.emplace_back("material-filter", true);
            r.settings.numbers.emplace_back(row.name, Number(value, name));
        } else if (option == "distance") {
            const double d = Number(value, name);
            if (!(d > 0.0)) throw py::value_error("distance: above 0");
            r.distance = static_cast<float>(d);
        } else if (option == "noise-size") {
            r.noiseSize = static_cast<float>(Number(value, name));
        } else if (row.kind == OptionKind::kSwitch) {
            r.settings.ticks.emplace_back(row.name, Switch(value, name));
        } else {
            r.settings.numbers.emplace_back(row.name, Number(value, name));
        }
    });
    // As the command refuses them: what means nothing without a source,
    // and two reaches at once.
    bool high = false;
    for (const auto& [option, on] : r.settings.ticks)
        if (option == "high-poly") high = on;
    if (!r.sources.empty() && options.contains("high_poly") && !high)
        throw py::value_error("high and high_poly=False contradict each other");
    if (r.sources.empty() && (r.cage || r.rayDistance))
        throw py::value_error(std::string(r.cage ? "cage" : "ray_distance") + " needs a high-poly mesh: give high=");
    if (r.rayDistance)
        for (const auto& [option, value] : r.settings.numbers)
            if (option == "ray-front" || option == "ray-rear")
                throw py::value_error("ray_distance and " + PythonName(option) + " contradict each other");
    return r;
}

py::list OptionRows()
{
    struct Facts {
        std::string name;
        std::optional<Panel::Limits> limits;
        bool whole = false;
        float shown = 0.0f;
        bool ticked = false;
    };
    std::vector<Facts> facts;
    const auto named = [](std::string name) {
        Facts f;
        f.name = std::move(name);
        return f;
    };
    ForEachOption([&](const OptionRow& row) { facts.push_back(named(row.name)); });
    facts.push_back(named("width"));
    facts.push_back(named("height"));
    WithPanel("", [&](const Panel& panel, StandaloneHost&) {
        for (Facts& f : facts) {
            f.limits = panel.AnySpinnerLimits(f.name);
            f.whole = f.limits && !panel.SpinnerLimits(f.name);
            f.shown = panel.ReadFloat(f.name);
            f.ticked = panel.IsTicked(f.name);
        }
    });
    const Facts& width = facts[facts.size() - 2];
    const Facts& height = facts.back();
    py::list rows;
    std::size_t i = 0;
    ForEachOption([&](const OptionRow& row) {
        const Facts& f = facts[i++];
        const std::string_view option = row.name;
        py::dict d;
        d["name"] = PythonName(row.name);
        d["option"] = "--" + std::string(row.name);
        for (const char* key : {"min", "max", "default", "unit"}) d[key] = py::none();
        if (row.kind == OptionKind::kSwitch) {
            d["type"] = "bool";
            d["default"] = f.ticked;
        } else if (f.limits) {
            d["type"] = f.whole ? "int" : "float";
            d["min"] = f.whole ? py::object(py::int_(static_cast<int>(f.limits->min))) : py::float_(f.limits->min);
            d["max"] = f.whole ? py::object(py::int_(static_cast<int>(f.limits->max))) : py::float_(f.limits->max);
            d["default"] = f.whole ? py::object(py::int_(static_cast<int>(f.shown))) : py::float_(f.shown);
        } else if (option == "size") {
            d["type"] = "size";
            d["min"] = static_cast<int>(width.limits ? width.limits->min : 0);
            d["max"] = static_cast<int>(width.limits ? width.limits->max : 0);
            d["default"] = py::make_tuple(static_cast<int>(width.shown), static_cast<int>(height.shown));
        } else if (option == "occluder" || option == "high") {
            d["type"] = "meshes";
        } else if (option == "cage") {
            d["type"] = "mesh";
        } else if (option == "ray-distance") {
            d["type"] = "reach";
        } else if (option == "threads") {
            d["type"] = "int";
            d["min"] = 0;
            d["max"] = 256;
            d["default"] = 0;
        } else {
            d["type"] = option == "distance-relative" ? "float" : "str";
        }
        // None: no filter, every material baked.
        if (option == "material-id") d["default"] = py::none();
        if (option == "distance" || option == "noise-size" || option == "ray-distance") d["unit"] = "mesh units";
        if (option == "size" || option == "padding") d["unit"] = "texels";
        if (option == "distance-relative" || option == "ray-front" || option == "ray-rear")
            d["unit"] = "bounding-box diagonals";
        d["help"] = row.help ? row.help : "";
        rows.append(d);
    });
    return rows;
}

std::string PluginVersionText()
{
    std::string version;
    WithPanel("", [&](const Panel& panel, StandaloneHost& host) {
        panel.Press("about");
        version = PluginVersion(host.dialogLines);
    });
    return version;
}

py::dict ReadPreset(const std::string& path)
{
    CommandOptions o = Scratch(path);
    struct Read {
        std::optional<BakeAlgorithm> algorithm;
        std::vector<std::pair<std::string, float>> numbers;
        std::vector<std::pair<std::string, bool>> ticks;
    } read;
    std::vector<const OptionRow*> rows;
    for (const OptionRow& row : kOptionRows)
        if (row.panelKey) rows.push_back(&row);
    {
        const RunConfigDir config(o);
        ApplyPreset(config.File(), path, o);
        WithPanel(config.path(), [&](const Panel& panel, StandaloneHost&) {
            ApplyOptions(panel, o);
            read.algorithm = panel.Algorithm();
            for (const OptionRow* row : rows) {
                if (row->kind == OptionKind::kSwitch) read.ticks.emplace_back(row->name, panel.IsTicked(row->name));
                else if (panel.AnySpinnerLimits(row->name)) read.numbers.emplace_back(row->name, panel.ReadFloat(row->name));
            }
        });
    }
    py::dict d;
    d["algorithm"] = read.algorithm ? NameOf(*read.algorithm) : "";
    bool filter = false;
    float width = 0, height = 0, id = 1;
    for (const auto& [name, on] : read.ticks) {
        if (name == "material-filter") filter = on;
        else if (!Hidden(name)) d[PythonName(name).c_str()] = on;
    }
    for (const auto& [name, value] : read.numbers) {
        if (name == "width") width = value;
        else if (name == "height") height = value;
        else if (name == "material-id") id = value;
        else d[PythonName(name).c_str()] = static_cast<double>(value);
    }
    d["size"] = py::make_tuple(static_cast<int>(width), static_cast<int>(height));
    d["material_id"] = filter ? py::object(py::int_(static_cast<int>(id))) : py::none();
    // The command's own values: the user's distance, not the panel's clamp of it.
    if (o.distance) d["distance"] = static_cast<double>(*o.distance);
    if (o.noiseSize) d["noise_size"] = static_cast<double>(*o.noiseSize);
    if (o.distanceRelative) {
        d["distance_relative"] = *o.distanceRelative;
        d["distance"] = py::none();
    }
    return d;
}

void WritePreset(const std::string& path, const py::dict& options)
{
    py::dict given = options;
    const std::string algorithm = given.contains("algorithm") ? given.attr("pop")("algorithm").cast<std::string>() : "";
    const BakeRequest request = RequestOf(algorithm, given);
    // The panel holds what its spinners can; the command's section the
    // user's values, which win when the preset is read.
    const CommandValues values{request.distance, request.noiseSize, request.distanceRelative, std::nullopt};
    PanelSettings settings = request.settings;
    if (request.distance) settings.numbers.emplace_back("distance", *request.distance);
    if (request.noiseSize) settings.numbers.emplace_back("noise-size", *request.noiseSize);
    std::string why;
    {
        const RunConfigDir config(Scratch());
        WithPanel(config.path(), [&](const Panel& panel, StandaloneHost&) { ApplySettings(panel, settings); });
        if (!WriteCommandSection(config.File(), values)) why = "cannot write the command's section";
        if (why.empty()) why = config.CopyTo(path);
    }
    if (!why.empty()) throw py::value_error("cannot write the preset " + path + ": " + why);
}

}  // namespace dunsmere
