#include "ui/utility.h"

#include "eval/sample.h"
#include "eval/eval.h"
#include "host/core.h"

float DunsmereUtility::EvaluateSample(const Mesh& mesh, int face, const Point3& weights, Ray* rayScratch,
                                      CrtRand& rng) const
{
    return ::EvaluateSample(settings, {run.faceNormals, run.vertexNormals}, mesh, face, weights, rayScratch, rng);
}

void DunsmereUtility::GenerateVertexColors()
{
    if (Interface* core = Core()) ::GenerateVertexColors(*core, settings, run);
}
