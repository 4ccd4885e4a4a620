#include "eval/face_values.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <new>

#include "eval/run_engine.h"
#include "eval/sample.h"
#include "geom/geom.h"

namespace dunsmere {

namespace {

// The nearest float to 1/3: the sample is the face's centroid.
constexpr float kCentroidWeight = 0.33333334f;

// Sequence s holds the faces s, s + 2, s + 4, ...: the shares of the classic
// run's two workers, cut into chunks that any number of workers take.
// A vertex-colour sample draws nothing from its generator, so a chunk can
// start anywhere in its sequence with a fresh one.
constexpr std::int64_t kFacesPerChunk = 64;
// Faces a worker evaluates before it stores them under workLock at once: a
// poll of the bar sees at most this many fewer per thread.
constexpr int kFacesPerBatch = 32;

// Workers read the mesh, settings and tables, and write only the values
// (under workLock, a batch at once).
class FaceWork final : public RunWork {
public:
    FaceWork(const Mesh& mesh, const UtilitySettings& settings, RunTables& tables, FaceValues& values,
             ProjectionCounts& projected)
        : mesh_(mesh), settings_(settings), tables_(tables), values_(values), projected_(projected)
    {
    }

    void Work(WorkerSeat& seat) override
    {
        const std::int64_t rays = RayScratchCount(settings_);
        const std::unique_ptr<Ray[]> rayScratch(rays > 0 ? new (std::nothrow) Ray[static_cast<size_t>(rays)] : nullptr);
        if (!rayScratch) {
            outOfMemory.store(true);
            seat.Cancel();
            return;
        }
        CrtRand rng;
        const SampleTables tables{tables_.faceNormals, tables_.vertexNormals, &tables_.scene};
        const bool fromSources = settings_.highPoly != 0;
        ProjectionTally tally(&projected_);
        const Point3 centroid{kCentroidWeight, kCentroidWeight, kCentroidWeight};
        FaceBatch batch;
        WorkChunk chunk;
        while (seat.NextChunk(chunk)) {
            for (std::int64_t p = chunk.begin; p < chunk.end; ++p) {
                const int f = static_cast<int>(chunk.sequence + 2 * p);
                if (settings_.selectedOnly && !mesh_.faceSel[f]) continue;
                if (seat.Cancelled()) return;
                batch.face[batch.count] = f;
                float& value = batch.value[batch.count];
                // A missed face centre is open, 0. Vertex colours take no draw.
                if (!fromSources) value = EvaluateSample(settings_, tables, mesh_, f, centroid, rayScratch.get(), rng);
                else if (!tables_.projection.SampleAt(settings_, mesh_, f, centroid, rayScratch.get(), 0, tally, value))
                    value = 0.0f;
                if (++batch.count == kFacesPerBatch) Publish(batch, seat);
            }
        }
        Publish(batch, seat);
    }

    int ProgressPercent(float itemShare) override { return static_cast<int>(itemShare * 90.0f); }

    std::atomic<bool> outOfMemory{false};

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
        std::lock_guard<std::mutex> lock(tables_.workLock);
        for (int i = 0; i < batch.count; ++i) {
            values_.value[static_cast<size_t>(batch.face[i])] = batch.value[i];
            values_.evaluated[static_cast<size_t>(batch.face[i])] = 1;
        }
        seat.AddDone(batch.count);
        batch.count = 0;
    }

    const Mesh& mesh_;
    const UtilitySettings& settings_;
    RunTables& tables_;
    FaceValues& values_;
    ProjectionCounts& projected_;
};

}  // namespace

BakeStatus FaceValueBake::Prepare()
{
    try {
        {
            // The build may use as many threads as the run will, started
            // once for all its steps and ended before the workers start.
            HelperCrew crew(BuildHelpers{hooks_.starter, hooks_.workerCount()});
            if (settings_.highPoly) {
                tables_.projection.Build(mesh_, settings_, std::move(tables_.sources), std::move(tables_.cage),
                                         std::move(tables_.occluders), crew.Helpers());
            } else {
                tables_.projection.Clear();
                tables_.BuildRayTables(mesh_, crew.Helpers(), std::move(tables_.occluders));
                tables_.vertexNormals.BuildVertexNormals(mesh_, crew.Helpers());
            }
        }
        const size_t faceCount = static_cast<size_t>(mesh_.getNumFaces());
        values_.value.assign(faceCount, 0.0f);
        values_.evaluated.assign(faceCount, 0);
    } catch (const std::bad_alloc&) {
        return BakeStatus::kOutOfMemory;
    }
    return BakeStatus::kDone;
}

BakeStatus FaceValueBake::Evaluate()
{
    workersStarted_ = hooks_.clock();
    const int faceCount = mesh_.getNumFaces();
    FaceWork work(mesh_, settings_, tables_, values_, projected_);
    RunPlan plan;
    plan.threads = hooks_.workerCount();
    plan.length[0] = (faceCount + 1) / 2;
    plan.length[1] = faceCount / 2;
    plan.firstStarted = 0;
    plan.chunkLength = kFacesPerChunk;
    plan.totalItems = faceCount;
    const RunResult result = RunWorkers(hooks_, tables_.workLock, work, plan);
    if (result.startFailed) return BakeStatus::kThreadStartFailed;
    if (result.outOfMemory || work.outOfMemory.load()) return BakeStatus::kOutOfMemory;
    return result.cancelled ? BakeStatus::kCancelled : BakeStatus::kDone;
}

}  // namespace dunsmere
