// A geometry file that reaches up into the map layer.
#include "map/map.h"

using namespace dunsmere;
