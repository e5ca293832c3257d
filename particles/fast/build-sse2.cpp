// The sweeps in two lanes of SSE2, the x86-64 baseline (see build.h).
#if defined(__x86_64__)
#define PSYS_BUILD_ISA sse2
#define PSYS_BUILD_TABLE SSE2_BUILDS
#define PSYS_BUILD_LANES 2
#define PSYS_BUILD_TARGET __attribute__((flatten))
#include "particles/fast/build.h"
#endif
