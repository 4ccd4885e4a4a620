#include "eval/vertex_colors.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "eval/run_engine.h"
#include "eval/workers.h"
#include "eval/messages.h"
#include "eval/occluders.h"
#include "eval/sample.h"
#include "eval/settings_range.h"
#include "geom/geom.h"
#include "host/core.h"

namespace {

// The nearest float to 1/3: the sample is the face's centroid.
constexpr float kCentroidWeight = 0.33333334f;

struct VertexAccum {
    int count = 0;
    float sum = 0.0f;
};

// What the workers share for one run. Workers read the mesh, settings and
// tables, and write only faceValue/faceDone (under workLock, a batch at once).
struct VertexRun {
    const UtilitySettings& settings;
    RunTables& tables;
    const Mesh& mesh;
    std::vector<float> faceValue;
    std::vector<std::uint8_t> faceDone;
    std::atomic<bool> outOfMemory{false};
};

DWORD NoProgress(void*) { return 0; }

// Sequence s holds the faces s, s + 2, s + 4, ...: the two workers' shares.
// A vertex-colour sample draws nothing from its generator, so a chunk can
// start anywhere in its sequence with a fresh one.
constexpr std::int64_t kFacesPerChunk = 64;
// Faces a worker evaluates before it stores them under workLock at once: a
// poll of the bar sees at most this many fewer per thread.
constexpr int kFacesPerBatch = 32;

class VertexWork final : public RunWork {
public:
    explicit VertexWork(VertexRun& run) : run_(run) {}

    void Work(WorkerSeat& seat) override
    {
        const std::int64_t rays = RayScratchCount(run_.settings);
        const std::unique_ptr<Ray[]> rayScratch(rays > 0 ? new (std::nothrow) Ray[static_cast<size_t>(rays)] : nullptr);
        if (!rayScratch) {
            run_.outOfMemory.store(true);
            seat.Cancel();
            return;
        }
        CrtRand rng;
        const SampleTables tables{run_.tables.faceNormals, run_.tables.vertexNormals, &run_.tables.scene};
        const Point3 centroid{kCentroidWeight, kCentroidWeight, kCentroidWeight};
        FaceBatch batch;
        WorkChunk chunk;
        while (seat.NextChunk(chunk)) {
            for (std::int64_t p = chunk.begin; p < chunk.end; ++p) {
                const int f = static_cast<int>(chunk.sequence + 2 * p);
                if (run_.settings.selectedOnly && !run_.mesh.faceSel[f]) continue;
                if (seat.Cancelled()) return;
                batch.face[batch.count] = f;
                batch.value[batch.count] =
                    EvaluateSample(run_.settings, tables, run_.mesh, f, centroid, rayScratch.get(), rng);
                if (++batch.count == kFacesPerBatch) Publish(batch, seat);
            }
        }
        Publish(batch, seat);
    }

    int ProgressPercent(float itemShare) override { return static_cast<int>(itemShare * 90.0f); }

private:
    // Faces evaluated and not yet stored. Stored one at a time, the two
    // threads' neighbouring faces would have them trade the lock's line and
    // the slots' lines on every face.
    struct FaceBatch {
        int count = 0;
        int face[kFacesPerBatch];
        float value[kFacesPerBatch];
    };

    // Each face keeps its own value; vertices sum them later in face order,
    // so colours never depend on which thread finished first.
    void Publish(FaceBatch& batch, WorkerSeat& seat)
    {
        if (batch.count == 0) return;
        std::lock_guard<std::mutex> lock(run_.tables.workLock);
        for (int i = 0; i < batch.count; ++i) {
            run_.faceValue[static_cast<size_t>(batch.face[i])] = batch.value[i];
            run_.faceDone[static_cast<size_t>(batch.face[i])] = 1;
        }
        seat.AddDone(batch.count);
        batch.count = 0;
    }

    VertexRun& run_;
};

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
    if (RefuseUnservableSettings(ip, settings, SettingsUse::kVertexColors)) return;
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
    const int vertCount = mesh.getNumVerts();
    const int faceCount = mesh.getNumFaces();
    // Accumulating into a channel with fewer colour vertices than vertices
    // would multiply freshly reset black; such a run writes the levels as a
    // replacing run does. So does one into a channel with fewer colour faces
    // than faces (a mesh from another host): the faces past its end name no
    // colour vertices to multiply.
    const bool prepare =
        !settings.addVertexColors || mesh.getNumVertCol() < vertCount || mesh.getNumVCFaces() < faceCount;
    const bool replace = prepare;
    int colourCount = 0;

    // A build step, the colour channel or the run's own arrays running out
    // of memory ends the run as the workers do when they run out.
    VertexRun* run = nullptr;
    std::vector<VertexAccum> accum;
    ColourTargets targets;
    try {
        {
            // The build may use as many threads as the run will, started
            // once for all its steps and ended before the workers start.
            HelperCrew crew(BuildHelpers{&starter, WorkerThreadsFor(ip)});
            tables.BuildRayTables(mesh, crew.Helpers(), GatherOccluders(ip, settings));
            tables.vertexNormals.BuildVertexNormals(mesh, crew.Helpers());
        }
        if (prepare) {
            mesh.setNumVertCol(vertCount, false);
            mesh.setNumVCFaces(faceCount, false, 0);
            for (int i = 0; i < vertCount; ++i) mesh.vertCol()[i] = Point3{};
            for (int f = 0; f < faceCount; ++f) {
                const Face& face = mesh.faces[static_cast<size_t>(f)];
                mesh.vcFace()[f].setTVerts(face.v[0], face.v[1], face.v[2]);
            }
        }
        colourCount = mesh.getNumVertCol();
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
        VertexWork work(*run);
        RunPlan plan;
        plan.threads = WorkerThreadsFor(ip);
        plan.length[0] = (faceCount + 1) / 2;
        plan.length[1] = faceCount / 2;
        plan.firstStarted = 0;
        plan.chunkLength = kFacesPerChunk;
        plan.totalItems = faceCount;
        const RunResult result = RunWorkers(ip, starter, tables.workLock, work, plan);
        startFailed = result.startFailed;
        outOfMemory = result.outOfMemory || run->outOfMemory.load();
        cancelled = result.cancelled;

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
