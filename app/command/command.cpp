#include "app/command/command.h"

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/image/file_bitmaps.h"
#include "app/image/image_files.h"
#include "app/mesh/mesh_files.h"
#include "app/command/plugins.h"
#include "app/command/signals.h"
#include "app/command/standalone_host.h"
#include "host/temporary_files.h"
#include "host/bitmap.h"
#include "host/dialog.h"
#include "host/ini.h"
#include "host/plugin_api.h"
#include "host/runtime.h"

namespace fs = std::filesystem;

namespace {

// Panel control ids.
constexpr int kGenerate = 1001, kAbout = 1005;
constexpr int kSelectedOnly = 1002, kNoiseOn = 1006, kFilterOn = 1007, kAccumulate = 1011;
constexpr int kUVMap = 1008, kVertexColors = 1009, kSpatial = 1010;
constexpr int kEditX = 1490, kEditY = 1491, kEditDist = 1492, kEditVertical = 1493, kEditHorizontal = 1494,
              kEditChannel = 1495, kEditNoiseSize = 1502, kEditMtlID = 1504;

void Fail(const std::string& message) { std::fprintf(stderr, "dunsmere: %s\n", message.c_str()); }

[[noreturn]] void InternalCheckFailed(int line, const char* source)
{
    std::fprintf(stderr, "internal check failed: %s line %d\n", source ? source : "?", line);
    std::fflush(stderr);
    RemoveTemporaryFiles();
    std::_Exit(kExitInternal);
}

void DebugToStderr(const char* text) { std::fputs(text, stderr); }

// The user's view of the panel: typing into edit controls, ticking boxes.
struct Panel {
    HWND page;

    template <class Number>  // int or float: the edit shows it as the panel would
    void Type(int editId, Number value) const
    {
        if (ICustEdit* e = GetICustEdit(GetDlgItem(page, editId))) {
            e->SetText(value);
            ReleaseICustEdit(e);
        }
    }
    void Tick(int id, bool on) const { CheckDlgButton(page, id, on ? BST_CHECKED : BST_UNCHECKED); }
    bool Ticked(int id) const { return IsDlgButtonChecked(page, id) == BST_CHECKED; }
    int ReadInt(int editId) const
    {
        const DialogControl* c = page->Control(editId);
        return c ? EditTextToInt(c->text, nullptr) : 0;
    }
    int Algorithm() const
    {
        for (int id : {kUVMap, kVertexColors, kSpatial})
            if (Ticked(id)) return id;
        return kUVMap;
    }

    void Apply(const CommandOptions& o) const
    {
        if (o.algorithm && Algorithm() != *o.algorithm) page->Click(*o.algorithm);
        if (o.distance) Type(kEditDist, *o.distance);
        if (o.horizontal) Type(kEditHorizontal, *o.horizontal);
        if (o.vertical) Type(kEditVertical, *o.vertical);
        if (o.width) Type(kEditX, *o.width);
        if (o.height) Type(kEditY, *o.height);
        if (o.mapChannel) Type(kEditChannel, *o.mapChannel);
        if (o.noiseSize) Type(kEditNoiseSize, *o.noiseSize);
        if (o.materialId) Type(kEditMtlID, *o.materialId);
        if (o.selectedOnly) Tick(kSelectedOnly, *o.selectedOnly);
        if (o.noise) Tick(kNoiseOn, *o.noise);
        if (o.materialFilter) Tick(kFilterOn, *o.materialFilter);
        if (o.accumulate) Tick(kAccumulate, *o.accumulate);
    }

    // Every control with its value and whether it is enabled. A control's
    // group is the group box around it; an edit's label is the text to its
    // left on the same line (the map size's "x" sits between its two edits).
    void Print(std::FILE* out) const
    {
        const std::vector<DialogControl>& all = page->Controls();
        auto inside = [](const ControlTemplate& box, const ControlTemplate& c) {
            return c.x >= box.x && c.y >= box.y && c.x < box.x + box.w && c.y < box.y + box.h;
        };
        auto groupOf = [&](const ControlTemplate& c) -> std::string {
            for (const DialogControl& g : all)
                if (g.tmpl.kind == ControlKind::GroupBox && inside(g.tmpl, c)) return g.tmpl.caption;
            return "";
        };
        auto labelOf = [&](const ControlTemplate& c) -> std::string {
            std::string label;
            for (const DialogControl& t : all) {
                const bool text = t.tmpl.kind == ControlKind::Text || t.tmpl.kind == ControlKind::CentredText;
                if (text && t.tmpl.caption && std::abs(t.tmpl.y - c.y) <= 8 && t.tmpl.x < c.x) label = t.tmpl.caption;
            }
            while (!label.empty() && (label.back() == ':' || label.back() == ' ')) label.pop_back();
            return label;
        };
        for (const DialogControl& c : all) {
            const char* caption = c.tmpl.caption ? c.tmpl.caption : "";
            const std::string group = groupOf(c.tmpl);
            const std::string state = c.enabled ? "" : "  (disabled)";
            std::string name;
            switch (c.tmpl.kind) {
            case ControlKind::CentredText:
                if (c.tmpl.y < 20) std::fprintf(out, "%s\n", caption);  // the panel's title
                continue;
            case ControlKind::RadioButton:
                name = group + ": " + caption;
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c.checked ? "(*)" : "( )", state.c_str());
                continue;
            case ControlKind::CheckBox:
                name = group.empty() ? caption : group + ": " + caption;
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c.checked ? "[x]" : "[ ]", state.c_str());
                continue;
            case ControlKind::CustEdit: {
                const std::string label = labelOf(c.tmpl);
                if (label.empty()) name = group + ": X";
                else if (label == "x") name = group + ": Y";
                else name = group.empty() ? label : group + ": " + label;
                std::fprintf(out, "  %-34s %s%s\n", name.c_str(), c.text.c_str(), state.c_str());
                continue;
            }
            default:
                continue;
            }
        }
    }
};

// Faces a map run will leave out, by reason, for the warning before the run.
std::string FacesLeftOut(const Mesh& mesh, const Panel& panel, int& count)
{
    const int channel = panel.ReadInt(kEditChannel);
    const bool selectedOnly = panel.Ticked(kSelectedOnly);
    const bool filter = panel.Ticked(kFilterOn);
    const int mtlID = panel.ReadInt(kEditMtlID);
    const int faces = mesh.getNumFaces();
    count = 0;
    if (mesh.getNumMapVerts(channel) <= 0 || !mesh.mapFaces(channel)) {
        count = faces;
        return faces ? "the mesh has no map channel " + std::to_string(channel) : "";
    }
    std::map<std::string, int> reasons;
    const UVVert* tv = mesh.mapVerts(channel);
    const TVFace* tf = mesh.mapFaces(channel);
    const DWORD tvCount = static_cast<DWORD>(mesh.getNumMapVerts(channel));
    for (int f = 0; f < faces; ++f) {
        const Face& face = mesh.faces[static_cast<size_t>(f)];
        const char* why = nullptr;
        if (selectedOnly && !mesh.faceSel[f]) why = "not selected";
        else if (filter && face.getMatID() + 1 != mtlID) why = "other material IDs";
        else {
            for (DWORD t : tf[f].t) {
                const bool inRange = t < tvCount && tv[t].x >= -0.001f && tv[t].x <= 1.0001f && tv[t].y >= -0.001f &&
                                     tv[t].y <= 1.0001f;
                if (!inRange) why = "map coordinates outside 0..1";
            }
        }
        if (why) {
            ++reasons[why];
            ++count;
        }
    }
    std::string text;
    for (const auto& [why, n] : reasons) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + why;
    return text;
}

// The configuration directory the run uses. With --no-save-settings (and for
// runs that only show something) it is a private copy that is thrown away.
struct ConfigDir {
    std::string path;
    std::string scratch;  // removed at the end

    ~ConfigDir()
    {
        std::error_code ec;
        if (!scratch.empty()) fs::remove_all(scratch, ec);
    }
};

bool PrepareConfigDir(const CommandOptions& o, ConfigDir& config)
{
    std::string real = o.configDir;
    std::error_code ec;
    if (real.empty()) real = PluginConfigDir();
    else fs::create_directories(real, ec);
    const bool throwaway = o.noSaveSettings || o.showSettings || o.about;
    if (!throwaway) {
        if (real.empty()) {
            Fail("no usable configuration directory (set --config-dir)");
            return false;
        }
        config.path = real;
        if (o.defaults) fs::remove(fs::path(real) / "Dunsmere.ini", ec);
        return true;
    }
    std::string pattern = (fs::temp_directory_path(ec) / "dunsmere-settings-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        Fail("cannot make a temporary settings directory");
        return false;
    }
    config.scratch = config.path = pattern;
    if (!o.defaults && !real.empty()) fs::copy_file(fs::path(real) / "Dunsmere.ini", fs::path(pattern) / "Dunsmere.ini", ec);
    return true;
}

}  // namespace

int RunCommand(const CommandOptions& o)
{
    SetAssertReporter(&InternalCheckFailed);
    if (o.debug) SetDebugSink(&DebugToStderr);
    InstallCancelSignals();
    const auto started = std::chrono::steady_clock::now();

    // Plug-in first: without it nothing else matters.
    const std::string pluginDir = o.pluginDir.empty() ? DefaultPluginFolder() : o.pluginDir;
    const FoundPlugin plugin = FindUtilityPlugin(pluginDir, "Dunsmere");
    for (const std::string& w : plugin.warnings) std::fprintf(stderr, "dunsmere: warning: %s\n", w.c_str());
    if (!plugin.desc) {
        Fail("no plug-in library in " + pluginDir + " offers \"Dunsmere\"");
        return kExitUsage;
    }

    ConfigDir config;
    if (!PrepareConfigDir(o, config)) return kExitUsage;

    StandaloneHost host(config.path, o.quiet, o.savePartial);
    for (size_t i = 0; i < o.meshes.size(); ++i) {
        try {
            MeshFile file = ReadMeshFile(o.meshes[i]);
            host.nodes.push_back(std::make_unique<SceneNode>(fs::path(o.meshes[i]).stem().string(), std::move(file)));
        } catch (const MeshFileError& e) {
            Fail(e.what());
            return kExitUsage;
        } catch (const std::exception& e) {
            Fail(o.meshes[i] + ": " + e.what());
            return kExitUsage;
        }
    }
    if (o.select.empty()) {
        for (auto& node : host.nodes) host.selection.push_back(node.get());
    } else {
        for (const std::string& which : o.select) {
            SceneNode* pick = nullptr;
            for (auto& node : host.nodes)
                if (which == node->GetName()) pick = node.get();
            if (!pick && !which.empty() && which.find_first_not_of("0123456789") == std::string::npos &&
                which.size() < 9 && std::stoul(which) < host.nodes.size())
                pick = host.nodes[std::stoul(which)].get();
            if (!pick) {
                Fail("--select " + which + ": no such node");
                return kExitUsage;
            }
            host.selection.push_back(pick);
        }
    }
    if (!o.selectFaces.empty()) {
        const std::vector<int> faces = *ParseFaceRanges(o.selectFaces);
        for (SceneNode* node : host.selection) {
            Mesh& mesh = node->CurrentMesh();
            if (faces.back() >= mesh.getNumFaces()) {
                Fail("--select-faces " + o.selectFaces + ": " + node->GetName() + " has " +
                     std::to_string(mesh.getNumFaces()) + " faces");
                return kExitUsage;
            }
            mesh.faceSel.ClearAll();
            for (int f : faces) mesh.faceSel.Set(f);
        }
    }

    FileBitmapManager bitmaps(o.output);
    SetCOREInterface(&host);
    SetWindowSystem(&host);
    SetBitmapManager(&bitmaps);

    // Open the utility as the host does: create it and begin editing.
    auto* utility = static_cast<UtilityObj*>(plugin.desc->Create(FALSE));
    IUtil iutil;
    if (!utility) {
        Fail(plugin.path + ": the descriptor created no utility");
        return kExitUsage;
    }
    utility->BeginEditParams(&host, &iutil);
    HWND page = host.Page();
    if (!page) {
        Fail(plugin.path + ": the utility opened no panel");
        return kExitUsage;
    }
    const Panel panel{page};
    auto close = [&] {
        utility->EndEditParams(&host, &iutil);
        SetBitmapManager(nullptr);
        SetWindowSystem(nullptr);
        SetCOREInterface(nullptr);
    };

    if (o.about) {
        page->Click(kAbout);
        close();
        return kExitDone;
    }
    panel.Apply(o);
    if (o.showSettings) {
        panel.Print(stdout);
        close();
        return kExitDone;
    }

    const int algorithm = panel.Algorithm();
    if (algorithm == kUVMap && !IsSupportedImagePath(o.output)) {
        Fail("cannot write " + o.output + ": a map is written as " + SupportedImageExtensions());
        close();
        return kExitUsage;
    }
    if (algorithm == kVertexColors && !CanWriteMesh(o.output)) {
        Fail("cannot write " + o.output + ": vertex colours are written as " + WritableMeshExtensions());
        close();
        return kExitUsage;
    }
    if (algorithm == kUVMap && host.selection.size() == 1) {
        int left = 0;
        const Mesh& mesh = static_cast<SceneNode*>(host.selection[0])->CurrentMesh();
        const std::string why = FacesLeftOut(mesh, panel, left);
        if (left > 0)
            std::fprintf(stderr, "Dunsmere: %d of %d faces will not be baked (%s)\n", left, mesh.getNumFaces(),
                         why.c_str());
    }

    page->Click(kGenerate);

    bool written = false;
    if (algorithm == kUVMap) {
        written = bitmaps.Written();
        if (!bitmaps.Error().empty()) Fail(bitmaps.Error());
    } else if (algorithm == kVertexColors && host.completionShown && !host.cancelReached && !CancelSignal()) {
        SceneNode* node = host.selection.size() == 1 ? host.selection[0] : nullptr;
        try {
            if (node) {
                WriteMeshFile(node->File(), node->CurrentMesh(), o.output);
                written = true;
            }
        } catch (const std::exception& e) {
            Fail(e.what());
        }
    }
    close();

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (host.cancelReached || CancelSignal()) return CancelStatus(CancelSignal());
    if (written && !o.quiet) std::fprintf(stderr, "dunsmere: wrote %s (%.1f s)\n", o.output.c_str(), seconds);
    if (host.infoShown || !written) return kExitFailed;
    return kExitDone;
}
