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

    struct Scratch {
        std::unique_ptr<Ray[]> rays;
        ProjectionTally tally;
    };

    bool MakeScratch(const TexelJob& job, Scratch& scratch) const
    {
        const std::int64_t count = RayScratchCount(job.settings);
        if (count > 0) scratch.rays.reset(new (std::nothrow) Ray[static_cast<std::size_t>(count)]);
        scratch.tally.Attach(&counts);
        return scratch.rays != nullptr;
    }

    // A miss leaves the texel uncovered.
    bool Evaluate(const TexelJob& job, const TexelSample& texel, Scratch& scratch, float& value) const
    {
        if (!projection.SampleAt(job.settings, job.mesh, texel.face, texel.bary, scratch.rays.get(), texel.azimuthDraw,
                                 scratch.tally, value))
            return false;
        value = WithTexelNoise(job, texel, value);
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
