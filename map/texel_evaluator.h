// What the texel workers compute at each covered texel: an evaluator.
//
// The workers own everything around it (the rasterized records, the row
// sequences and their chunks, the azimuth draws, the store under workLock,
// the passes, supersampling and coverage) and hand it one covered texel at
// a time. The classic evaluator is the smurl sample at the texel's weights,
// scaled by noise with noiseOn.
#pragma once

#include <memory>

#include "eval/eval.h"
#include "host/point3.h"

namespace dunsmere {

struct TexelJob;
class WorkerSeat;

// One covered texel as an evaluator sees it.
struct TexelSample {
    int face;          // a face of the run's mesh
    Point3 bary;       // the conditioned weights, inside the face
    Point3 rawBary;    // the weights at the texel's own position
    int azimuthDraw;   // the texel's draw, 0..32767: drawn whatever the evaluator does
};

// An evaluator type E offers, for TexelEvaluatorFor<E>
// (map/detail/texel_loop.h):
//
//   struct Scratch;  // a worker thread's own, made once per thread
//   // False when the scratch cannot be had: the run ends out of memory.
//   bool MakeScratch(const TexelJob& job, Scratch& scratch) const;
//   // Called once per covered texel, from any worker thread at once. False
//   // when the texel is not covered after all: the workers store it as
//   // uncovered, before the passes and the coverage count see it.
//   bool Evaluate(const TexelJob& job, const TexelSample& texel, Scratch& scratch, float& value) const;
//
// The workers inline those calls into their texel loop; what a run holds is
// this handle, called once per worker thread.
class TexelEvaluator {
public:
    // Works the seat's chunks of the job (see TexelWorker in
    // map/detail/texel_workers.h).
    virtual int Work(TexelJob& job, WorkerSeat& seat) const = 0;

protected:
    ~TexelEvaluator() = default;
};

// The smurl sample with noise. Stateless; lives as long as the program.
const TexelEvaluator& ClassicTexelEvaluator();

// The smurl value at each texel's projection onto the sources
// (ProjectionTables::SampleAt), with the classic
// noise at the low texel's own point. A texel whose projection misses is
// uncovered. Outlives the run it serves.
class SourceTexelEvaluator {
public:
    SourceTexelEvaluator(const ProjectionTables& projection, ProjectionCounts& counts);
    ~SourceTexelEvaluator();
    const TexelEvaluator& Handle() const;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace dunsmere
