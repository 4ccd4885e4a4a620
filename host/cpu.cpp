#include "host/cpu.h"

#include <sched.h>

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

int ProcessorsAvailable()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 1;
    const int count = CPU_COUNT(&set);
    return count > 0 ? count : 1;
}

const char* RayRouteOverride()
{
    const char* value = std::getenv("DUNSMERE_RAYS");
    return value && *value ? value : nullptr;
}
