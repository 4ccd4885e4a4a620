#include <memory>
#include <new>

#include "eval/eval.h"
#include "map/detail/texel_loop.h"
#include "map/detail/texel_workers.h"
#include "map/texel_evaluator.h"

namespace dunsmere {

namespace {

struct ProjectedEvaluator {
    const ProjectionTables& projection;
    ProjectionCounts& counts;

    // A worker's counts go to the run's once, as it ends.
    struct Scratch {
        std::unique_ptr<Ray[]> rays;
        ProjectionCounts* counts = nullptr;
        std::int64_t samples = 0, missed = 0;

        Scratch() = default;
        Scratch(const Scratch&) = delete;
        Scratch& operator=(const Scratch&) = delete;
        ~Scratch()
        {
            if (!counts) return;
            counts->samples.fetch_add(samples, std::memory_order_relaxed);
            counts->missed.fetch_add(missed, std::memory_order_relaxed);
        }
    };

    bool MakeScratch(const TexelJob& job, Scratch& scratch) const
    {
        const std::int64_t count = RayScratchCount(job.settings);
        if (count > 0) scratch.rays.reset(new (std::nothrow) Ray[static_cast<std::size_t>(count)]);
        scratch.counts = &counts;
        return scratch.rays != nullptr;
    }

    bool Evaluate(const TexelJob& job, const TexelSample& texel, Scratch& scratch, float& value) const
    {
        ++scratch.samples;
        RayHit hit;
        if (!projection.ProjectSample(job.mesh, texel.face, texel.bary, hit)) {
            ++scratch.missed;
            return false;
        }
        value = WithTexelNoise(job, texel,
                               projection.EvaluateAtHit(job.settings, hit, scratch.rays.get(), texel.azimuthDraw));
        return true;
    }
};

}  // namespace

struct SourceTexelEvaluator::Parts {
    ProjectedEvaluator evaluator;
    TexelEvaluatorFor<ProjectedEvaluator> handle{evaluator};
};

SourceTexelEvaluator::SourceTexelEvaluator(const ProjectionTables& projection, ProjectionCounts& counts)
    : parts_(new Parts{{projection, counts}})
{
}

SourceTexelEvaluator::~SourceTexelEvaluator() = default;

const TexelEvaluator& SourceTexelEvaluator::Handle() const { return parts_->handle; }

}  // namespace dunsmere
