// A host of the tests' own: a scene of scripted nodes and objects, and a core
// interface that records message boxes, progress and notifications and can
// request a cancel at a chosen moment. Sleeps last 1 ms and the clock is
// scripted, so nothing waits for real.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "allocation_replaceable.h"
#include "host/core.h"
#include "host/threads.h"

namespace dunsmere {

// A triangle-mesh object made by a conversion; counts its own deletion.
class ConvertedCopy : public TriObject {
public:
    ConvertedCopy(const Mesh& m, int& deletions) : mesh_(m), deletions_(deletions) {}
    int KindCode() override { return 0; }
    Object* GetWrappedObject() override { return nullptr; }
    int CanConvertToType(Class_ID type) override { return type == kTriObjectClassID; }
    TriObject* ConvertToType(TimeValue, Class_ID) override { return this; }
    void DeleteThis() override
    {
        ++deletions_;
        delete this;
    }
    Mesh& GetMesh() override { return mesh_; }

private:
    Mesh mesh_;
    int& deletions_;
};

// An Editable Mesh: converts to itself. With `convertsToCopy` it stands for a
// parametric object whose conversion makes a new triangle-mesh object.
class ScriptedMeshObject : public TriObject {
public:
    Mesh mesh;
    bool convertible = true;
    bool convertsToCopy = false;
    bool convertsToNull = false;
    int copiesDeleted = 0;

    int KindCode() override { return 0; }
    Object* GetWrappedObject() override { return nullptr; }
    int CanConvertToType(Class_ID type) override { return convertible && type == kTriObjectClassID; }
    TriObject* ConvertToType(TimeValue, Class_ID) override
    {
        if (convertsToNull) return nullptr;
        if (!convertsToCopy) return this;
        return new ConvertedCopy(mesh, copiesDeleted);
    }
    void DeleteThis() override {}
    Mesh& GetMesh() override { return mesh; }
};

// An object of kind 2 wrapping another (a modifier stack with no modifiers).
class ScriptedWrapper : public Object {
public:
    explicit ScriptedWrapper(Object* inner) : inner_(inner) {}
    int KindCode() override { return kWrapperObjectKind; }
    Object* GetWrappedObject() override { return inner_; }
    int CanConvertToType(Class_ID) override { return 0; }
    TriObject* ConvertToType(TimeValue, Class_ID) override { return nullptr; }
    void DeleteThis() override {}

private:
    Object* inner_;
};

struct Notification {
    PartID part;
    RefMessage message;
    int sclass;
    int propagate;
    bool operator==(const Notification&) const = default;
};

class ScriptedNode : public INode {
public:
    explicit ScriptedNode(Object* obj, std::string name = "node") : obj_(obj), name_(std::move(name)) {}
    const char* GetName() override { return name_.c_str(); }
    Object* GetObjectRef() override { return obj_; }
    ObjectState EvalWorldState(TimeValue, int) override { return {obj_}; }
    void NotifyDependents(Interval changeInt, PartID part, RefMessage message, int sclass, int propagate,
                          void*) override
    {
        if (changeInt.start == FOREVER.start && changeInt.end == FOREVER.end)
            notifications.push_back({part, message, sclass, propagate});
    }

    std::vector<Notification> notifications;

private:
    Object* obj_;
    std::string name_;
};

struct MessageRecord {
    std::string text;
    std::string title;
    unsigned type;
};

class ScriptedHost : public Interface {
public:
    std::vector<INode*> selection;
    std::string configDir = "/nonexistent";

    // Recorded.
    std::vector<MessageRecord> messages;
    std::vector<int> progress;
    std::string progressTitle;
    int progressStarts = 0, progressEnds = 0;
    int sleeps = 0, cancelQueries = 0;

    // Scripted.
    int workerThreads = 0;           // WorkerThreadCount's answer
    bool wakes = false;              // SleepUnlessWoken really sleeps, and wakes
    std::function<void()> onSleep;   // called as SleepUnlessWoken begins
    int cancelAtQuery = -1;          // GetCancel answers 1 from this query on (1-based)
    bool cancelOnceBarPasses90 = false;
    std::function<void()> onCancelQuery;
    std::function<void()> onProgressStart, onProgressEnd;
    int answer = IDNO;               // the button pressed on a question
    std::int64_t clock = 1000;       // each Time() reading advances it by clockStep
    std::int64_t clockStep = 3;

    const char* GetDir(int) override { return configDir.c_str(); }
    int GetSelNodeCount() override { return static_cast<int>(selection.size()); }
    INode* GetSelNode(int i) override
    {
        return i >= 0 && i < static_cast<int>(selection.size()) ? selection[static_cast<size_t>(i)] : nullptr;
    }
    TimeValue GetTime() override { return 0; }
    void* GetMainWindow() override { return nullptr; }

    void ProgressStart(const char* title, int, ProgressCallback fn, void* arg) override
    {
        ++progressStarts;
        progressTitle = title ? title : "";
        if (onProgressStart) onProgressStart();
        if (fn) fn(arg);
    }
    void ProgressUpdate(int percent, int, const char*) override
    {
        progress.push_back(percent);
        if (cancelOnceBarPasses90 && percent > 90) barPassed90_ = true;
    }
    int GetCancel() override
    {
        ++cancelQueries;
        if (onCancelQuery) onCancelQuery();
        if (cancelAtQuery > 0 && cancelQueries >= cancelAtQuery) return 1;
        return barPassed90_ ? 1 : 0;
    }
    void ProgressEnd() override
    {
        ++progressEnds;
        if (onProgressEnd) onProgressEnd();
    }

    int MessageBox(const char* text, const char* title, unsigned type) override
    {
        // A host's own record never runs out of memory, whatever a test
        // has armed for the plug-in.
        const long armed = gFailThrowingAllocation.exchange(0);
        messages.push_back({text ? text : "", title ? title : "", type});
        gFailThrowingAllocation.store(armed);
        return (type & MB_YESNO) ? answer : IDOK;
    }

    void Sleep(int) override
    {
        ++sleeps;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    int WorkerThreadCount() override { return workerThreads; }
    void SleepUnlessWoken(int milliseconds) override
    {
        if (onSleep) onSleep();
        if (!wakes) return Sleep(milliseconds);
        ++sleeps;
        wake_.Sleep(milliseconds);
    }
    void WakeSleeper() override { wake_.Wake(); }
    std::int64_t Time() override
    {
        const std::int64_t now = clock;
        clock += clockStep;
        return now;
    }

private:
    bool barPassed90_ = false;
    WakeableSleep wake_;
};

}  // namespace dunsmere
