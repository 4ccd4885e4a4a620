#include "host/numbers.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <locale.h>

float ParseFloatC(const char* text, const char** end)
{
    // Made once and never freed: it lives as long as the process.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* stop = nullptr;
    const double d = cLocale ? strtod_l(text, &stop, cLocale) : std::strtod(text, &stop);
    if (end) *end = stop;
    // Narrowing a double beyond the float range is undefined; such a value
    // reads as the infinity of its sign.
    if (std::isfinite(d) && std::fabs(d) > static_cast<double>(FLT_MAX)) return d > 0 ? INFINITY : -INFINITY;
    return static_cast<float>(d);
}
