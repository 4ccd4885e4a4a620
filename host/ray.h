// Host ray: origin, then direction. The direction need not be unit length.
#pragma once

#include "host/point3.h"

struct Ray {
    Point3 p;    // origin
    Point3 dir;  // direction
};
static_assert(sizeof(Ray) == 24, "a ray is six floats: callers size ray buffers by it");
