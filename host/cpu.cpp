#include "host/cpu.h"

#include <cstdlib>

SimdLevel ProcessorSimdLevel()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return SimdLevel::kAvx512;
    if (__builtin_cpu_supports("avx2")) return SimdLevel::kAvx2;
#endif
    return SimdLevel::kSse2;
}

const char* RayRouteOverride()
{
    const char* value = std::getenv("DUNSMERE_RAYS");
    return value && *value ? value : nullptr;
}
