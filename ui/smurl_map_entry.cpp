// The "UV Map" generation as the panel starts it.
#include "host/core.h"
#include "map/map.h"
#include "ui/utility.h"

namespace dunsmere {

void DunsmereUtility::GenerateSmurlMap()
{
    if (Interface* core = Core()) dunsmere::GenerateSmurlMap(*core, settings, run, map);
}

}  // namespace dunsmere
