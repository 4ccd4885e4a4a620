#include "app/command/command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "app/command/bake_report.h"
#include "app/command/batch.h"
#include "app/command/config_dir.h"
#include "app/command/host_hooks.h"
#include "app/command/info.h"
#include "app/command/option_table.h"
#include "app/command/panel_options.h"
#include "app/command/presets.h"
#include "app/command/projection_report.h"
#include "app/command/progress.h"
#include "app/command/refusals.h"
#include "app/command/scaling.h"
#include "app/command/signals.h"
#include "app/command/tile_bake.h"
#include "app/image/file_bitmaps.h"
#include "app/mesh/mesh_files.h"
#include "app/session/edit_session.h"
#include "app/session/occluders.h"
#include "app/session/output_kind.h"
#include "app/session/outcome.h"
#include "app/session/panel.h"
#include "app/session/plugins.h"
#include "app/session/session.h"
#include "app/session/standalone_host.h"
#include "host/bitmap.h"
#include "host/dialog.h"
#include "host/cpu.h"
#include "host/face_rule.h"
#include "host/plugin_api.h"
#include "host/runtime.h"
#include "host/temporary_files.h"
#include "app/mesh/uv_cover.h"

namespace dunsmere {

namespace fs = std::filesystem;

namespace {

// The last failure printed, for the --json object of the mesh in hand. The
// command's runs are one after another on this one thread.
std::string g_lastFailure;

void Fail(const std::string& message)
{
    std::fprintf(stderr, "dunsmere: %s\n", message.c_str());
    g_lastFailure = message;
}

// A warning is advice: -q drops it.
void Warn(const CommandOptions& o, const std::string& message)
{
    if (!o.quiet) std::fprintf(stderr, "dunsmere: warning: %s\n", message.c_str());
}

// The one place where what a step throws becomes its message and the exit
// status: a CommandError carries its own; a mesh file that cannot be read
// is an input error, and so is a plug-in the session cannot open; memory
// that cannot be had is a failure like any other, not a bug.
template <class Steps>
int Reported(Steps&& steps)
{
    try {
        return steps();
    } catch (const CommandError& e) {
        Fail(e.what());
        return e.status();
    } catch (const MeshFileError& e) {
        Fail(e.what());
        return kExitUsage;
    } catch (const SessionError& e) {
        Fail(e.what());
        return kExitUsage;
    } catch (const std::bad_alloc&) {
        Fail("out of memory");
        return kExitFailed;
    }
}

[[noreturn]] void InternalCheckFailed(int line, const char* source)
{
    std::fprintf(stderr, "internal check failed: %s line %d\n", source ? source : "?", line);
    std::fflush(stderr);
    RemoveTemporaryFiles();
    std::_Exit(kExitInternal);
}

void DebugToStderr(const char* text) { std::fputs(text, stderr); }

// The plug-in traces every triangle it rasterizes and every face it leaves
// out: megabytes for one mesh, kept for --debug=2.
void DebugToStderrButTriangles(const char* text)
{
    for (const char* each : {"TRIANGLE ", "DRAWLINE ", "Face "})
        if (std::strncmp(text, each, std::strlen(each)) == 0) return;
    DebugToStderr(text);
}

void InstallProcessHooks(const CommandOptions& o)
{
    SetAssertReporter(&InternalCheckFailed);
    if (o.debug > 0) SetDebugSink(o.debug > 1 ? &DebugToStderr : &DebugToStderrButTriangles);
    // The plug-in's ray code reads its route from the environment.
    if (o.plain) setenv("DUNSMERE_RAYS", "plain", 1);
    InstallCancelSignals();
}

// Plug-in first: without it nothing else matters.
FoundPlugin LoadPlugin(const CommandOptions& o)
{
    return LoadDunsmere(o.pluginDir, [&o](const std::string& warning) { Warn(o, warning); });
}

bool LoadCancelled() { return CancelSignal() != 0; }

// One node per mesh file, the selection, and the selected nodes' faces.
// False when a signal cancelled the loading: the run then ends as cancelled.
bool LoadScene(const CommandOptions& o, StandaloneHost& host)
{
    host.timings.Record(RunTimings::kLoad);
    const MeshReading reading{o.importLimits, &LoadCancelled, o.smoothAngle, host.workerThreads};
    for (const std::string& path : o.meshes) {
        try {
            MeshFile file = ReadMeshFile(path, reading);
            for (const std::string& w : file.warnings) Warn(o, w);
            host.nodes.push_back(std::make_unique<SceneNode>(NodeName(path), std::move(file)));
        } catch (const MeshReadCancelled&) {
            return false;
        }
        if (LoadCancelled()) return false;
    }
    if (o.select.empty()) {
        for (auto& node : host.nodes) host.selection.push_back(node.get());
    } else {
        const std::string& which = o.select;
        SceneNode* pick = nullptr;
        for (auto& node : host.nodes)
            if (which == node->GetName()) pick = node.get();
        if (!pick && which.find_first_not_of("0123456789") == std::string::npos && which.size() < 9 &&
            std::stoul(which) < host.nodes.size())
            pick = host.nodes[std::stoul(which)].get();
        if (!pick) throw CommandError(kExitUsage, "--select " + which + ": no such node");
        host.selection.push_back(pick);
    }
    if (o.selectFaces.empty()) return true;
    const std::vector<FaceRange> ranges = *ParseFaceRanges(o.selectFaces);
    for (SceneNode* node : host.selection) {
        Mesh& mesh = node->CurrentMesh();
        if (ranges.back().last >= mesh.getNumFaces())
            throw CommandError(kExitUsage, "--select-faces " + o.selectFaces + ": " + node->GetName() + " has " +
                                               std::to_string(mesh.getNumFaces()) + " faces");
        mesh.faceSel.ClearAll();
        for (const FaceRange& r : ranges)
            for (int f = r.first; f <= r.last; ++f) mesh.faceSel.Set(f);
    }
    return true;
}

void WarnOfFacesLeftOut(const CommandOptions& o, StandaloneHost& host, const Panel& panel)
{
    if (o.quiet || host.selection.size() != 1) return;
    int left = 0;
    const Mesh& mesh = host.selection[0]->CurrentMesh();
    const std::string why = FacesLeftOut(mesh, panel.MapFilter(), left);
    if (left > 0)
        std::fprintf(stderr, "Dunsmere: %d of %d faces will not be baked (%s)\n", left, mesh.getNumFaces(), why.c_str());
}

// UV faces that overlap by area bake one texel for two surfaces: said
// before the bake, at the map's own size.
void WarnOfOverlap(const CommandOptions& o, StandaloneHost& host, const Panel& panel)
{
    if (o.quiet || host.selection.size() != 1) return;
    SceneNode& node = *host.selection[0];
    const int channel = panel.MapFilter().mapChannel;
    const int width = static_cast<int>(panel.ReadFloat("width")), height = static_cast<int>(panel.ReadFloat("height"));
    const UvOverlap overlap = MeasureUvOverlap(node.CurrentMesh(), channel, width, height);
    if (overlap.faces > 0)
        Warn(o, node.File().path + ": map channel " + std::to_string(channel) + ": " +
                    CoveredTwice(overlap.faces, overlap.share) + " at " + std::to_string(width) + "x" +
                    std::to_string(height));
}

// After "Generate": the map is what the bitmap manager wrote; vertex
// colours are written into the output mesh once the run has completed.
void RecordOutput(const CommandOptions& o, std::optional<BakeAlgorithm> algorithm, StandaloneHost& host,
                  const FileBitmapManager& bitmaps, const TiledRun& tiled)
{
    RunOutcome& outcome = host.outcome;
    if (algorithm == BakeAlgorithm::kUVMap) {
        outcome.written = tiled.tiles.empty() ? bitmaps.Written() : AllTilesWritten(tiled);
        if (!bitmaps.Error().empty()) Fail(bitmaps.Error());
        return;
    }
    if (algorithm != BakeAlgorithm::kVertexColors || !outcome.completed || outcome.cancelReached || CancelSignal())
        return;
    if (host.selection.size() != 1) return;
    SceneNode* node = host.selection[0];
    try {
        host.timings.Record(RunTimings::kWrite);
        WriteMeshFile(node->File(), node->CurrentMesh(), o.output, host.workerThreads);
        outcome.written = true;
    } catch (const MeshFileError& e) {
        Fail(e.what());
    } catch (const std::bad_alloc&) {
        Fail("cannot write " + o.output + ": out of memory");
    }
}

// What the run does with the panel open; the session closes it after.
// GENERATED tells whether "Generate" was pressed.
// A map whose output names tiles bakes each into TILED.
template <class BeforeGenerate>
int WithPanelOpen(const CommandOptions& o, StandaloneHost& host, FileBitmapManager& bitmaps, const Panel& panel,
                  bool& generated, TiledRun& tiled, BeforeGenerate&& beforeGenerate)
{
    if (o.about) {
        panel.Press("about");
        return kExitDone;
    }
    ScaledNode scaled = ApplyWithDistance(o, host, panel);
    if (o.showSettings) {
        panel.Print(stdout);
        return kExitDone;
    }
    const std::optional<BakeAlgorithm> algorithm = panel.Algorithm();
    const bool map = algorithm == BakeAlgorithm::kUVMap;
    CheckOutputKind(o.output, algorithm);
    const bool tiles = NamesTile(o.output);
    if (tiles && !map) throw CommandError(kExitUsage, "--output " + o.output + ": only a map is baked per UDIM tile");
    if (!map && !o.missMap.empty())
        throw CommandError(kExitUsage, "--miss-map " + o.missMap + ": vertex colours have no map of misses");
    if (tiles && host.selection.size() == 1) tiled = PlanTiles(o, *host.selection[0], panel.MapFilter());
    if (map && !tiles && host.selection.size() == 1) RefuseUselessMap(*host.selection[0], panel.MapFilter());
    if (map && !tiles) WarnOfFacesLeftOut(o, host, panel);
    if (map && !tiles) WarnOfOverlap(o, host, panel);
    beforeGenerate(algorithm);
    generated = true;
    if (tiled.tiles.empty())
        panel.Press("generate");
    else
        BakeTiles(o, host, bitmaps, panel, tiled);
    scaled.Restore();
    RecordOutput(o, algorithm, host, bitmaps, tiled);
    if (tiled.tiles.empty() && host.outcome.written && host.outcome.projection && !o.missMap.empty())
        WriteMissMap(o.missMap, *host.outcome.projection, host.workerThreads);
    host.timings.Record(RunTimings::kClose);
    return -1;  // a bake: the outcome decides once the panel is closed
}

// --version: the plug-in is loaded and its About box read unseen, since the
// plug-in states its version nowhere else. No settings file is read or
// written: the plug-in is told of no configuration directory.
int PrintVersion(const CommandOptions& o)
{
    const FoundPlugin plugin = LoadPlugin(o);
    ProgressBar bar(stderr, isatty(STDERR_FILENO) != 0, true);
    StandaloneHost host("", CommandHooks(bar, true, std::nullopt));
    host.printDialogs = false;
    TimedBitmapManager bitmaps("", host.timings);
    WithUtilityOpen(BakeTurn(nullptr), host, bitmaps, plugin, [](const Panel& panel) { panel.Press("about"); });
    const std::string version = PluginVersion(host.dialogLines);
    if (version.empty()) throw CommandError(kExitUsage, plugin.path + ": its About box names no version");
    std::printf("dunsmere %s (%s)\n", kCommandVersion, version.c_str());
    return kExitDone;
}

// After the panel closed, which saved the run's settings in the scratch
// directory: the command's own values join them, a run that reached
// "Generate" copies them to the real directory, and --write-preset hands
// them on. False when the preset asked for could not be written.
bool KeepSettings(const CommandOptions& o, const RunConfigDir& config, const RunOutcome& outcome, bool generated)
{
    std::error_code ec;
    // A scaled run's panel saved scaled values: the user's win on reading.
    const CommandValues values{outcome.distance, outcome.noiseSize, o.distanceRelative, o.smoothAngle};
    if (fs::exists(config.File(), ec) && !WriteCommandSection(config.File(), values))
        DebugPrint("dunsmere: the command's values not saved to %s\n", config.File().c_str());
    if (generated && !o.noSaveSettings) config.CopyBack();
    if (o.writePreset.empty()) return true;
    const std::string why = config.CopyTo(o.writePreset);
    if (!why.empty()) Fail("cannot write the preset " + o.writePreset + ": " + why);
    return why.empty();
}

// A bake from high-poly meshes that wrote its output: one warning that
// counts the misses, the report's counts, and the run failed when more
// missed than --max-miss-share allows. The status the run ends with.
int JudgeMisses(const CommandOptions& o, const RunOutcome& outcome, const TiledRun& tiled, BakeReport* report)
{
    const std::optional<RunOutcome::Projection>& p = tiled.tiles.empty() ? outcome.projection : tiled.projected;
    if (!p) return kExitDone;
    if (report) report->projection = {true, p->samples, p->missed};
    if (const std::string warning = MissWarning(o.meshes[0], *p, outcome.distanceExponent); !warning.empty())
        Warn(o, warning);
    const std::string failure = MissShareFailure(o, *p);
    if (failure.empty()) return kExitDone;
    Fail(o.meshes[0] + ": " + failure);
    return kExitFailed;
}

// What a bake's report takes from the open panel, before "Generate".
void NoteFaces(const StandaloneHost& host, const Panel& panel, std::optional<BakeAlgorithm> algorithm,
               BakeReport* report)
{
    if (!report || host.selection.size() != 1) return;
    report->faces = CountFaces(host.selection[0]->CurrentMesh(), panel.MapFilter(), algorithm == BakeAlgorithm::kUVMap);
}

// What the report takes from a run once its panel has closed.
void NoteRun(const CommandOptions& o, const StandaloneHost& host, const FileBitmapManager& bitmaps,
             const RunConfigDir& config, bool selectedOnly, const TiledRun& tiled, BakeReport& report)
{
    report.settings = SettingsKeys(config.File());
    report.distanceExponent = host.outcome.distanceExponent;
    if (!tiled.tiles.empty()) {
        report.seconds.load = host.timings.Seconds(RunTimings::kLoad, RunTimings::kPanel);
        NoteTiles(tiled, report);
        return;
    }
    report.seconds = {host.timings.Seconds(RunTimings::kLoad, RunTimings::kPanel),
                      host.timings.Seconds(RunTimings::kBuild, RunTimings::kWrite),
                      host.timings.Seconds(RunTimings::kWrite, RunTimings::kClose)};
    if (!host.outcome.written) return;
    report.outputs.push_back(o.output);
    const fs::path output(o.output);
    if (output.extension() == ".gltf") report.outputs.push_back(fs::path(output).replace_extension(".bin").string());
    if (bitmaps.Written()) {
        const FileBitmapManager::Levels& levels = bitmaps.WrittenLevels();
        report.value = {true, levels.min / 65535.0, levels.max / 65535.0, levels.mean / 65535.0};
    } else if (host.selection.size() == 1) {
        report.value = CornerValues(host.selection[0]->CurrentMesh(), selectedOnly);
    }
}

// What the runs of one command share.
struct Batch {
    const FoundPlugin& plugin;
    const RunConfigDir& config;
    std::chrono::steady_clock::time_point pluginStart;
};

// One run of the plug-in: its own host, scene and panel session, from the
// settings the batch started with. O names this run's meshes and output.
int BakeOne(const CommandOptions& o, const Batch& batch, BakeReport* report)
{
    const RunConfigDir& config = batch.config;
    ProgressBar bar(stderr, isatty(STDERR_FILENO) != 0, o.quiet);
    StandaloneHost host(config.path(), CommandHooks(bar, o.quiet, o.savePartial));
    host.timings.Record(RunTimings::kPlugin, batch.pluginStart);
    host.workerThreads = o.threads > 0 ? o.threads : ProcessorsAvailable();
    if (report) report->inputs = o.meshes;
    if (!LoadScene(o, host)) return ExitStatus(host.outcome, CancelSignal());
    // Before the panel: a scaled mesh takes its occluders with it.
    if (!AddOccluders(host, o.occluders, o.groundPlane,
                      {o.importLimits, &LoadCancelled, o.smoothAngle, host.workerThreads}))
        return ExitStatus(host.outcome, CancelSignal());
    if (!AddSources(host, o.highs, o.cage, {o.importLimits, &LoadCancelled, o.smoothAngle, host.workerThreads}))
        return ExitStatus(host.outcome, CancelSignal());
    for (const auto* nodes : {&host.occluders, &host.sources})
        for (const auto& node : *nodes)
            for (const std::string& warning : node->File().warnings) Warn(o, warning);
    host.keepMissMap = !o.missMap.empty();
    // Every mesh file is read: the occluders' and the high meshes' too.
    host.timings.Record(RunTimings::kPanel);

    TimedBitmapManager bitmaps(o.output, host.timings);
    bitmaps.SetWriteThreads(host.workerThreads);
    bool generated = false;
    int status = -1;
    bool selectedOnly = false;
    TiledRun tiled;
    // The command's runs are one after another: its turn never waits.
    WithUtilityOpen(BakeTurn(nullptr), host, bitmaps, batch.plugin, [&](const Panel& panel) {
        // Reported here, so that a refusal is printed before the panel closes.
        status = Reported([&] {
            return WithPanelOpen(o, host, bitmaps, panel, generated, tiled, [&](std::optional<BakeAlgorithm> algorithm) {
                NoteFaces(host, panel, algorithm, report);
                selectedOnly = panel.IsTicked("selected-only");
                bitmaps.SetWriteLayout(o.channels, o.bitDepth, panel.IsTicked("coverage-alpha"));
            });
        });
    });
    // Only a bake, or a look at the settings, has settings to keep.
    const bool keeps = generated || (o.showSettings && status == kExitDone);
    const bool kept = !keeps || KeepSettings(o, config, host.outcome, generated);
    if (report) NoteRun(o, host, bitmaps, config, selectedOnly, tiled, *report);
    if (status >= 0) return kept ? status : std::max(status, kExitFailed);
    host.timings.Record(RunTimings::kEnd);

    status = ExitStatus(host.outcome, CancelSignal());
    if (!kept) status = std::max(status, kExitFailed);
    if (status == kExitDone) status = JudgeMisses(o, host.outcome, tiled, report);
    const bool ran = !host.outcome.cancelReached && !CancelSignal() && !o.quiet;
    if (!tiled.tiles.empty()) {
        if (ran) ReportTiles(tiled);
    } else {
        if (ran && host.outcome.completed)
            std::fprintf(stderr, "dunsmere: baked in %.1f s\n",
                         host.timings.Seconds(RunTimings::kBuild, RunTimings::kWrite));
        if (ran && host.outcome.written) std::fprintf(stderr, "dunsmere: wrote %s\n", o.output.c_str());
        if (ran && host.outcome.written && !o.missMap.empty())
            std::fprintf(stderr, "dunsmere: wrote %s\n", o.missMap.c_str());
    }
    if (o.timings) {
        std::fputs(host.timings.Line().c_str(), stderr);
        std::fputs(RunTimings::PeakMemoryLine().c_str(), stderr);
    }
    return status;
}

// The map channel a run of O would bake, as the panel shows it once O's
// options are typed in: a look with no mesh, whose save is undone.
int MapChannelOf(const CommandOptions& o, const FoundPlugin& plugin, const RunConfigDir& config)
{
    ProgressBar bar(stderr, isatty(STDERR_FILENO) != 0, true);
    StandaloneHost host(config.path(), CommandHooks(bar, true, std::nullopt));
    host.printDialogs = false;
    TimedBitmapManager bitmaps("", host.timings);
    int channel = 1;
    WithUtilityOpen(BakeTurn(nullptr), host, bitmaps, plugin, [&](const Panel& panel) {
        ApplyOptions(panel, o);
        channel = panel.MapFilter().mapChannel;
    });
    config.Restart();
    return channel;
}

int Bake(const CommandOptions& given)
{
    const auto pluginStart = std::chrono::steady_clock::now();
    const FoundPlugin plugin = LoadPlugin(given);
    const RunConfigDir config(given);
    CommandOptions o = given;
    if (!config.StartedFrom().empty()) ApplyPreset(config.File(), config.StartedFrom(), o);
    const bool looks = o.showSettings || o.about;
    const Batch batch{plugin, config, pluginStart};
    if (looks) return BakeOne(o, batch, nullptr);

    // The whole batch is planned, and refused, before any mesh is read.
    const int channel = NamesChannel(o.output) || NamesChannel(o.missMap) ? MapChannelOf(o, plugin, config) : 1;
    const std::vector<std::string> outputs = PlanOutputs(o, channel);
    const std::vector<SideFiles> sides = PlanSides(o, channel);
    RefuseUnwritableOutputs(o, outputs, sides);
    std::vector<BakeReport> reports;
    int status = kExitDone;
    for (std::size_t i = 0; i < o.meshes.size(); ++i) {
        CommandOptions each = o;
        each.meshes = {o.meshes[i]};
        each.output = outputs[i];
        each.highs = sides[i].highs;
        each.cage = sides[i].cage;
        each.missMap = sides[i].missMap;
        if (i > 0) config.Restart();
        BakeReport& report = reports.emplace_back();
        g_lastFailure.clear();
        // Only --json reads the report: without it no face is counted twice.
        report.status = Reported([&] { return BakeOne(each, batch, o.json ? &report : nullptr); });
        if (report.status != kExitDone) report.error = g_lastFailure;
        // A cancel ends the batch: the mesh in hand ended as a single run's
        // cancel, and no later one starts.
        if (CancelSignal()) {
            status = report.status;
            break;
        }
        status = WorseStatus(status, report.status);
    }
    if (o.json) std::fputs(BakeReportsJson(reports).c_str(), stdout);
    return status;
}

}  // namespace

int ExitStatus(const RunOutcome& outcome, int cancelSignal)
{
    if (outcome.cancelReached || cancelSignal) return CancelStatus(cancelSignal);
    if (outcome.refused || !outcome.written) return kExitFailed;
    return kExitDone;
}

std::vector<SpinnerFacts> PanelSpinners()
{
    std::vector<SpinnerFacts> spinners;
    try {
        CommandOptions quiet;
        quiet.quiet = true;
        const FoundPlugin plugin = LoadPlugin(quiet);
        ProgressBar bar(stderr, false, true);
        // No configuration directory: the plug-in's own defaults, and no
        // settings file read or written for a look at the controls.
        StandaloneHost host("", CommandHooks(bar, true, std::nullopt));
        host.printDialogs = false;
        TimedBitmapManager bitmaps("", host.timings);
        WithUtilityOpen(BakeTurn(nullptr), host, bitmaps, plugin, [&](const Panel& panel) {
            for (const OptionRow& row : kOptionRows) {
                if (!row.panelKey) continue;
                if (const std::optional<Panel::Limits> limits = panel.AnySpinnerLimits(row.name))
                    spinners.push_back({row.name, limits->min, limits->max, panel.ReadFloat(row.name)});
            }
        });
    } catch (...) {
        // The table's own ranges and defaults stand in.
        spinners.clear();
    }
    return spinners;
}

int RunCommand(const CommandOptions& o)
{
    InstallProcessHooks(o);
    return Reported([&] { return o.version ? PrintVersion(o) : Bake(o); });
}

}  // namespace dunsmere
