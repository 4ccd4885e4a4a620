#include "ui/utility.h"

#include "eval/eval.h"
#include "host/core.h"

void DunsmereUtility::GenerateVertexColors()
{
    if (Interface* core = Core()) ::GenerateVertexColors(*core, settings, run);
}
