// Deterministic 3-D gradient noise: a smooth function of position with values
// in about -1..1, 0 at every integer lattice point. Pure, thread-safe and the
// same on every machine.
#pragma once

#include "host/point3.h"

float noise3(const Point3& p);
