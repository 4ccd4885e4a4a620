// The host's core interface and the scene objects the plug-in reaches
// through it. The standalone command and the tests each provide one and
// install it with SetCOREInterface.
//
// Every call is made on the host's user-interface thread, except that worker
// threads read the mesh of a TriObject while a generation runs.
#pragma once

#include <climits>
#include <cstdint>

#include "host/dialog.h"
#include "host/matrix3.h"
#include "host/mesh.h"
#include "host/runtime.h"

using TimeValue = int;

struct Interval {
    TimeValue start = 0, end = 0;
};
inline constexpr TimeValue TIME_NegInfinity = INT_MIN;
inline constexpr TimeValue TIME_PosInfinity = INT_MAX;
inline constexpr Interval FOREVER{TIME_NegInfinity, TIME_PosInfinity};

struct Class_ID {
    DWORD a = 0, b = 0;
    bool operator==(const Class_ID&) const = default;
};
inline constexpr Class_ID kTriObjectClassID{9, 0};

// How a bake from source nodes went. Samples are what was projected: map
// sub-texels, or face centres for vertex colours; a miss found no source
// face within the rays' reach. Front and rear are the distances used, in
// the selected mesh's units.
struct ProjectionReport {
    std::int64_t samples = 0;
    std::int64_t missed = 0;
    float front = 0.0f, rear = 0.0f;
    // The miss map, missWidth x missHeight levels row by row from the top:
    // the share of each texel's covered sub-texels that missed, times 65535.
    // Null when the host did not want it, or for vertex colours.
    const std::uint16_t* missLevels = nullptr;
    int missWidth = 0, missHeight = 0;
};

// Object kind codes: an object of kind 2 wraps another object.
inline constexpr int kWrapperObjectKind = 2;

// Change notifications a node sends to its dependents.
using PartID = DWORD;
using RefMessage = int;
inline constexpr PartID PART_TOPO = 1;
inline constexpr PartID PART_GEOM = 2;
inline constexpr RefMessage REFMSG_CHANGE = 0x50;
inline constexpr int NOTIFY_ALL = -16;  // dependents of every kind

class TriObject;

class Object {
public:
    virtual ~Object() = default;
    virtual int KindCode() = 0;
    // The object a kind-2 object wraps; null otherwise.
    virtual Object* GetWrappedObject() = 0;
    virtual int CanConvertToType(Class_ID type) = 0;
    // The object as a triangle-mesh object: itself when it already is one, a
    // new object the caller must DeleteThis, or null.
    virtual TriObject* ConvertToType(TimeValue t, Class_ID type) = 0;
    // Releases an object created by a conversion.
    virtual void DeleteThis() = 0;
};

class TriObject : public Object {
public:
    virtual Mesh& GetMesh() = 0;
};

struct ObjectState {
    Object* obj = nullptr;
};

class INode {
public:
    virtual ~INode() = default;
    virtual const char* GetName() = 0;
    virtual Object* GetObjectRef() = 0;
    virtual ObjectState EvalWorldState(TimeValue t, int stopAtWSM) = 0;
    virtual void NotifyDependents(Interval changeInt, PartID part, RefMessage message, int sclass,
                                  int propagate, void* target) = 0;
};

// Directory codes of GetDir.
inline constexpr int APP_PLUGCFG_DIR = 9;
inline constexpr int ROLLUP_CAT_UTILITY = 4000;

// Message box flags and answers.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_YESNO = 0x4;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

using ProgressCallback = DWORD (*)(void* arg);

class Interface {
public:
    virtual ~Interface() = default;

    // The directory text for `which` (APP_PLUGCFG_DIR: the plug-in
    // configuration directory), without a trailing separator.
    virtual const char* GetDir(int which) = 0;

    // Selection and time.
    virtual int GetSelNodeCount() = 0;
    virtual INode* GetSelNode(int i) = 0;
    virtual TimeValue GetTime() = 0;
    virtual void* GetMainWindow() = 0;

    // The progress bar and the user's cancel request.
    virtual void ProgressStart(const char* title, int showBar, ProgressCallback fn, void* arg) = 0;
    virtual void ProgressUpdate(int percent, int showPercent = 1, const char* title = nullptr) = 0;
    virtual int GetCancel() = 0;
    virtual void ProgressEnd() = 0;

    // A message box with no owner window; returns the button pressed.
    virtual int MessageBox(const char* text, const char* title, unsigned type) = 0;

    // Rollup pages of the command panel (category 4000 holds utilities).
    // AddRollupPage builds the page from the library's dialog template and
    // sends it WM_INITDIALOG before returning its window; DeleteRollupPage
    // sends WM_DESTROY and destroys it. Hosts without a panel return null.
    virtual HWND AddRollupPage(HINSTANCE, int /*templateId*/, DLGPROC, const char* /*title*/, LPARAM /*param*/ = 0,
                               DWORD /*flags*/ = 0, int /*category*/ = 0)
    {
        return nullptr;
    }
    virtual void DeleteRollupPage(HWND) {}
    // Mouse messages of a rollup page, for the host's own handling.
    virtual void RollupMouseMessage(HWND, UINT, WPARAM, LPARAM) {}

    // The platform's sleep and clock (whole seconds), behind the host so that
    // tests can run without waiting.
    virtual void Sleep(int milliseconds) = 0;
    virtual std::int64_t Time() = 0;

    // How many worker threads a generation runs; 0 when the host has no
    // say, and the generation runs its two.
    virtual int WorkerThreadCount() { return 0; }
    // A sleep that WakeSleeper ends early: a wake that comes before the
    // sleep begins ends it at once, so none is lost. A host without the
    // service sleeps the whole time.
    virtual void SleepUnlessWoken(int milliseconds) { Sleep(milliseconds); }
    // Called by a worker thread once it has set its done flag; may be called
    // from any thread, takes no lock of the plug-in's.
    virtual void WakeSleeper() {}

    // Nodes whose faces may shade the selected node's without being baked:
    // their count, the i-th (null outside 0..count-1), and the matrix that
    // takes the i-th node's object space into the selected node's (points
    // transform as p * M). A host without such nodes offers none.
    virtual int GetOccluderNodeCount() { return 0; }
    virtual INode* GetOccluderNode(int /*i*/) { return nullptr; }
    virtual Matrix3 GetOccluderTM(int /*i*/) { return Matrix3(); }

    // Nodes a bake may take its surface from instead of the selected node's
    // own (high-poly meshes over a low one), read and never written: their
    // count, the i-th, and the matrix into the selected node's space, as for
    // the occluders. A host without such nodes offers none.
    virtual int GetSourceNodeCount() { return 0; }
    virtual INode* GetSourceNode(int /*i*/) { return nullptr; }
    virtual Matrix3 GetSourceTM(int /*i*/) { return Matrix3(); }
    // The cage of a bake from source nodes: a mesh whose face f's corners
    // 0..2 stand over the selected mesh's face f's, where its rays start.
    // Null for none.
    virtual INode* GetCageNode() { return nullptr; }
    virtual Matrix3 GetCageTM() { return Matrix3(); }
    // Whether the host keeps the miss map of a bake from source nodes; asked
    // before the bake, since the map costs a grid of its own.
    virtual bool WantsMissMap() { return false; }
    // Once a bake from source nodes is evaluated (done or cancelled): what
    // it projected, and the miss map when the host wanted one. The report's
    // pointers live for the call alone.
    virtual void ProjectionDone(const ProjectionReport& /*report*/) {}
};
