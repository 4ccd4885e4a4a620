// The standalone host: a scene of mesh nodes, the core interface the plug-in
// talks to, and rollup pages as in-memory dialogs. Progress, the cancel
// request and message boxes (as "Dunsmere: TEXT", each of its lines so
// prefixed) go to the client's hooks (app/session/hooks.h).
// It also watches what the plug-in does, so that a client can tell the
// run's outcome from what it saw.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/session/hooks.h"
#include "app/session/outcome.h"
#include "app/session/timings.h"
#include "app/mesh/mesh_file.h"
#include "host/core.h"
#include "host/dialog.h"
#include "host/threads.h"

namespace dunsmere {

// An Editable Mesh object: converts to a triangle mesh as itself.
class EditableMeshObject final : public TriObject {
public:
    explicit EditableMeshObject(Mesh mesh) : mesh_(std::move(mesh)) {}
    int KindCode() override { return 0; }
    Object* GetWrappedObject() override { return nullptr; }
    int CanConvertToType(Class_ID type) override { return type == kTriObjectClassID; }
    TriObject* ConvertToType(TimeValue, Class_ID type) override { return type == kTriObjectClassID ? this : nullptr; }
    void DeleteThis() override {}
    Mesh& GetMesh() override { return mesh_; }

private:
    Mesh mesh_;
};

// One mesh file in the scene. Its object takes the mesh as read; the file
// keeps of it only the faces, against which a writer tells whether the
// file's own groups and materials still hold.
class SceneNode final : public INode {
public:
    SceneNode(std::string name, MeshFile file)
        : name_(std::move(name)), file_(std::move(file)), object_(std::move(file_.mesh))
    {
        file_.mesh = Mesh();
        file_.mesh.faces = object_.GetMesh().faces;
    }
    const char* GetName() override { return name_.c_str(); }
    Object* GetObjectRef() override { return &object_; }
    ObjectState EvalWorldState(TimeValue, int) override { return {&object_}; }
    void NotifyDependents(Interval, PartID, RefMessage, int, int, void*) override { ++notifications_; }

    // The file as read; of its mesh, the faces alone.
    const MeshFile& File() const { return file_; }
    Mesh& CurrentMesh() { return object_.GetMesh(); }
    int Notifications() const { return notifications_; }

private:
    std::string name_;
    MeshFile file_;
    EditableMeshObject object_;
    int notifications_ = 0;
};

// The node a mesh file becomes: its name without folder or extension.
std::string NodeName(const std::string& input);

class StandaloneHost final : public Interface, public WindowSystem {
public:
    // CONFIG_DIR is where the plug-in keeps its settings; "" for nowhere.
    explicit StandaloneHost(std::string configDir, HostHooks hooks = {});
    ~StandaloneHost() override;

    // The scene.
    std::vector<std::unique_ptr<SceneNode>> nodes;
    std::vector<SceneNode*> selection;
    // The nodes offered as occluders, each in the
    // selected node's space already; never among `nodes`.
    std::vector<std::unique_ptr<SceneNode>> occluders;
    // The nodes offered as the sources of a bake from high-poly meshes, and
    // its cage, likewise; the sources in the order the tie rule counts.
    std::vector<std::unique_ptr<SceneNode>> sources;
    std::unique_ptr<SceneNode> cage;
    // Whether a bake from sources keeps its miss map in outcome.projection.
    bool keepMissMap = false;

    // What the run showed, and (the client's part) what it wrote.
    RunOutcome outcome;
    // When the run's phases began, as far as the calls received tell (the
    // client marks the load and the write).
    RunTimings timings;

    // The worker threads a generation runs.
    int workerThreads = 0;

    // The text lines of the modal dialogs shown, caption first; printed on
    // stdout as they are shown unless printDialogs is off.
    std::vector<std::string> dialogLines;
    bool printDialogs = true;

    // Interface.
    const char* GetDir(int which) override;
    int GetSelNodeCount() override { return static_cast<int>(selection.size()); }
    INode* GetSelNode(int i) override;
    TimeValue GetTime() override { return 0; }
    void* GetMainWindow() override { return nullptr; }
    void ProgressStart(const char* title, int showBar, ProgressCallback fn, void* arg) override;
    void ProgressUpdate(int percent, int showPercent, const char* title) override;
    int GetCancel() override;
    void ProgressEnd() override;
    int MessageBox(const char* text, const char* title, unsigned type) override;
    void Sleep(int milliseconds) override;
    std::int64_t Time() override;
    int WorkerThreadCount() override;
    void SleepUnlessWoken(int milliseconds) override;
    void WakeSleeper() override;
    int GetOccluderNodeCount() override { return static_cast<int>(occluders.size()); }
    INode* GetOccluderNode(int i) override;
    int GetSourceNodeCount() override { return static_cast<int>(sources.size()); }
    INode* GetSourceNode(int i) override;
    INode* GetCageNode() override { return cage.get(); }
    bool WantsMissMap() override { return keepMissMap; }
    void ProjectionDone(const ProjectionReport& report) override;
    HWND AddRollupPage(HINSTANCE instance, int templateId, DLGPROC proc, const char* title, LPARAM param,
                       DWORD flags, int category) override;
    void DeleteRollupPage(HWND page) override;

    // Whether the client's cancel hook says the user asked to cancel.
    bool CancelAsked() const { return hooks_.cancelled && hooks_.cancelled(); }

    // WindowSystem: modal dialogs are shown as text and answered with OK.
    INT_PTR RunModal(DialogWindow& dialog) override;

    // The rollup pages in the order they were added, each with the title
    // the plug-in gave it; Page() is the first, null while there is none.
    struct RollupPage {
        std::unique_ptr<DialogWindow> window;
        std::string title;
    };
    const std::vector<RollupPage>& Pages() const { return pages_; }
    HWND Page() const { return pages_.empty() ? nullptr : pages_.front().window.get(); }

private:
    void BeginRays();
    static thread_local const StandaloneHost* t_sleeper;

    std::string configDir_;
    HostHooks hooks_;
    std::unique_ptr<ProgressSink> silent_;  // where no progress hook is given
    ProgressSink& progress_;
    std::vector<RollupPage> pages_;
    WakeableSleep wake_;
    int workerQueries_ = 0;  // WorkerThreadCount calls since ProgressStart
};

}  // namespace dunsmere
