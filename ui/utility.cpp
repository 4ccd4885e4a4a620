#include "ui/utility.h"

#include "eval/eval.h"
#include "host/core.h"

namespace dunsmere {

void DunsmereUtility::GenerateVertexColors()
{
    if (Interface* core = Core()) dunsmere::GenerateVertexColors(*core, settings, run);
}

}  // namespace dunsmere
