#include "eval/vertex_colors.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "eval/detail/threads.h"
#include "eval/messages.h"
#include "eval/sample.h"
#include "geom/geom.h"
#include "host/core.h"

namespace {

// The nearest float to 1/3: the sample is the face's centroid.
constexpr float kCentroidWeight = 0.33333334f;

struct VertexAccum {
    int count = 0;
    float sum = 0.0f;
};

// What the two workers share for one run. Workers read the mesh, settings
// and tables, and write only faceValue/faceDone (under workLock).
struct VertexRun {
    const UtilitySettings& settings;
    RunTables& tables;
    const Mesh& mesh;
    std::vector<float> faceValue;
    std::vector<std::uint8_t> faceDone;
    std::atomic<bool> outOfMemory{false};
};

DWORD NoProgress(void*) { return 0; }

void VertexWorker(const WorkerArg& arg)
{
    VertexRun& run = *static_cast<VertexRun*>(arg.run);
    ThreadTracker& tracker = *arg.tracker;
    const std::unique_ptr<Ray[]> rayScratch(new (std::nothrow) Ray[static_cast<size_t>(RayCount(run.settings))]);
    if (!rayScratch) {
        run.outOfMemory.store(true);
        tracker.SetCancel(1);
        return;
    }
    CrtRand rng;
    const SampleTables tables{run.tables.faceNormals, run.tables.vertexNormals, &run.tables.scene};
    const Point3 centroid{kCentroidWeight, kCentroidWeight, kCentroidWeight};
    const int stride = tracker.ThreadCount();
    const int faceCount = run.mesh.getNumFaces();
    for (int f = arg.index; f < faceCount; f += stride) {
        if (run.settings.selectedOnly && !run.mesh.faceSel[f]) continue;
        if (tracker.IsCancelled()) break;
        const float value = EvaluateSample(run.settings, tables, run.mesh, f, centroid, rayScratch.get(), rng);
        // Each face keeps its own value; vertices sum them later in face
        // order, so colours never depend on which thread finished first.
        std::lock_guard<std::mutex> lock(run.tables.workLock);
        run.faceValue[static_cast<size_t>(f)] = value;
        run.faceDone[static_cast<size_t>(f)] = 1;
        tracker.AddDone(1);
    }
}

void VertexThreadEntry(void* p)
{
    WorkerArg* arg = static_cast<WorkerArg*>(p);
    VertexWorker(*arg);
    arg->tracker->SetDone(arg->index, 1);
    delete arg;
}

// Colour vertices reached from each vertex through the colour faces, each
// listed once per vertex: the write phase's mapping, linear in faces plus
// vertices.
struct ColourTargets {
    std::vector<int> offset;  // per vertex, into target
    std::vector<int> target;
    // The last vertex that wrote each colour vertex: a colour vertex shared by
    // several corners of one vertex is scaled once for it.
    std::vector<int> stamp;

    void Build(const Mesh& mesh, int colourCount)
    {
        const int faceCount = mesh.getNumFaces();
        const TVFace* vc = mesh.vcFace();
        offset.assign(static_cast<size_t>(colourCount) + 1, 0);
        for (int f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD v = mesh.faces[static_cast<size_t>(f)].v[k];
                if (v < static_cast<DWORD>(colourCount)) ++offset[v + 1];
            }
        for (size_t i = 1; i < offset.size(); ++i) offset[i] += offset[i - 1];
        target.assign(static_cast<size_t>(offset.back()), -1);
        stamp.assign(static_cast<size_t>(colourCount), -1);
        std::vector<int> fill(offset.begin(), offset.end() - 1);
        for (int f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD v = mesh.faces[static_cast<size_t>(f)].v[k];
                if (v >= static_cast<DWORD>(colourCount)) continue;
                const DWORD j = vc ? vc[f].t[k] : v;
                target[static_cast<size_t>(fill[v]++)] = j < static_cast<DWORD>(colourCount) ? static_cast<int>(j) : -1;
            }
    }
};

void NotifyChanged(INode& node)
{
    node.NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE, NOTIFY_ALL, 1, nullptr);
    node.NotifyDependents(FOREVER, PART_TOPO, REFMSG_CHANGE, NOTIFY_ALL, 1, nullptr);
}

}  // namespace

void GenerateVertexColors(Interface& ip, const UtilitySettings& settings, RunTables& tables, ThreadStarter& starter)
{
    if (ip.GetSelNodeCount() != 1) {
        ShowInfo(ip, kSelectOneNode);
        return;
    }
    INode* node = ip.GetSelNode(0);
    Object* obj = node ? node->GetObjectRef() : nullptr;
    if (obj && obj->KindCode() == kWrapperObjectKind) obj = obj->GetWrappedObject();
    if (!obj || !obj->CanConvertToType(kTriObjectClassID)) {
        ShowInfo(ip, kNoTriObject);
        return;
    }
    TriObject* tri = obj->ConvertToType(ip.GetTime(), kTriObjectClassID);
    if (!tri) {
        ShowInfo(ip, kNoTriObject);
        return;
    }
    if (tri != obj) {
        ShowInfo(ip, kNotEditableMesh);
        tri->DeleteThis();
        return;
    }

    Mesh& mesh = tri->GetMesh();
    tables.currentMesh = &mesh;
    ip.ProgressStart(kVertexProgressTitle, 1, &NoProgress, nullptr);
    tables.BuildRayTables(mesh);
    tables.vertexNormals.BuildVertexNormals(mesh);

    const int vertCount = mesh.getNumVerts();
    const int faceCount = mesh.getNumFaces();
    // Accumulating into a channel with fewer colour vertices than vertices
    // would multiply freshly reset black; such a run writes the levels as a
    // replacing run does.
    const bool prepare = !settings.addVertexColors || mesh.getNumVertCol() < vertCount;
    if (prepare) {
        mesh.setNumVertCol(vertCount, false);
        mesh.setNumVCFaces(faceCount, false, 0);
        for (int i = 0; i < vertCount; ++i) mesh.vertCol()[i] = Point3{};
        for (int f = 0; f < faceCount; ++f) {
            const Face& face = mesh.faces[static_cast<size_t>(f)];
            mesh.vcFace()[f].setTVerts(face.v[0], face.v[1], face.v[2]);
        }
    }
    const bool replace = prepare;
    const int colourCount = mesh.getNumVertCol();

    VertexRun* run = nullptr;
    std::vector<VertexAccum> accum;
    ColourTargets targets;
    try {
        run = new VertexRun{settings, tables, mesh, std::vector<float>(static_cast<size_t>(faceCount), 0.0f),
                            std::vector<std::uint8_t>(static_cast<size_t>(faceCount), 0)};
        accum.resize(static_cast<size_t>(colourCount));
        targets.Build(mesh, colourCount);
    } catch (const std::bad_alloc&) {
        delete run;
        run = nullptr;
    }

    bool cancelled = true;
    bool startFailed = false;
    bool outOfMemory = run == nullptr;
    const std::int64_t startTime = ip.Time();
    if (run) {
        ThreadTracker tracker(&VertexThreadEntry, starter);
        tracker.SetTotal(faceCount);
        tracker.SetItemsDone(0);
        tracker.SetThreadCount(2);
        try {
            tracker.Start(run);
        } catch (const ThreadStartError&) {
            // Stop the threads that did start before anything is released.
            startFailed = true;
            tracker.SetCancel(1);
        }
        WaitForWorkers(ip, tracker, tables.workLock);
        outOfMemory = run->outOfMemory.load();
        cancelled = tracker.IsCancelled();

        if (!cancelled) {
            for (int f = 0; f < faceCount; ++f) {
                if (!run->faceDone[static_cast<size_t>(f)]) continue;
                const float value = run->faceValue[static_cast<size_t>(f)];
                for (DWORD v : mesh.faces[static_cast<size_t>(f)].v) {
                    VertexAccum& a = accum[v];
                    a.count += 1;
                    a.sum += value;
                }
            }
            VertColor* colours = mesh.vertCol();
            for (int i = 0; i < colourCount; ++i) {
                if (i % 100 == 0)
                    ip.ProgressUpdate(90 + static_cast<int>((10LL * i) / colourCount), 1, nullptr);
                if (ip.GetCancel()) {
                    cancelled = true;
                    break;
                }
                const VertexAccum& a = accum[static_cast<size_t>(i)];
                float value = a.count > 0 ? a.sum / static_cast<float>(a.count) : a.sum;
                if (value > 1.0f) value = 1.0f;
                if (!(value >= 0.0f)) value = 0.0f;
                const float level = 1.0f - value;
                for (int t = targets.offset[static_cast<size_t>(i)]; t < targets.offset[static_cast<size_t>(i) + 1]; ++t) {
                    const int j = targets.target[static_cast<size_t>(t)];
                    if (j < 0 || targets.stamp[static_cast<size_t>(j)] == i) continue;
                    targets.stamp[static_cast<size_t>(j)] = i;
                    VertColor& c = colours[j];
                    c = replace ? VertColor{level, level, level} : VertColor{c.x * level, c.y * level, c.z * level};
                }
            }
        }
    }

    ip.ProgressEnd();
    if (startFailed) {
        ShowInfo(ip, kThreadStartFailure);
    } else if (outOfMemory) {
        ShowInfo(ip, kOutOfMemory);
    } else if (!cancelled) {
        char text[256];
        std::snprintf(text, sizeof text, "Smurl calculation complete\nelapsed time = %d secs",
                      static_cast<int>(ip.Time() - startTime));
        ip.MessageBox(text, kMessageTitle, MB_OK);
    }

    tables.currentMesh = nullptr;
    tables.vertexNormals.ClearVertexNormals();
    delete run;
    NotifyChanged(*node);
}
