// The "UV Map" generation as the panel starts it.
#include "host/core.h"
#include "map/smurl_map.h"
#include "ui/utility.h"

void DunsmereUtility::GenerateSmurlMap()
{
    if (Interface* core = Core()) ::GenerateSmurlMap(*core, settings, run, map);
}
