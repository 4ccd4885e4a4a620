#include "ui/utility.h"

#include "eval/vertex_colors.h"
#include "host/core.h"

void DunsmereUtility::GenerateVertexColors()
{
    if (Interface* core = Core()) ::GenerateVertexColors(*core, settings, run);
}
