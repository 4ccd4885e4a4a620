// What the processor offers the ray code, and the switch that overrides it.
#pragma once

// Vector instruction sets the ray traversal has code for, in order.
enum class SimdLevel { kSse2 = 0, kAvx2 = 1, kAvx512 = 2 };

// The highest level this processor (and its operating system) supports.
// SSE2 is part of every x86-64 processor.
SimdLevel ProcessorSimdLevel();

// The processors this process may run on (its affinity mask), at least 1.
int ProcessorsAvailable();

// The value of the environment variable DUNSMERE_RAYS, which forces the
// ray route ("plain", "sse2", "avx2", "avx512") for tests, benchmarks and
// the command's --plain; null when unset or empty.
const char* RayRouteOverride();
