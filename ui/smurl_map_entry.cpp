// The "UV Map" generation as the panel starts it.
#include "host/core.h"
#include "map/map.h"
#include "ui/utility.h"

void DunsmereUtility::GenerateSmurlMap()
{
    if (Interface* core = Core()) ::GenerateSmurlMap(*core, settings, run, map);
}
