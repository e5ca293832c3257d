// The sweeps in four lanes of AVX2 with FMA (see build.h).
#if defined(__x86_64__)
#define PSYS_BUILD_ISA avx2
#define PSYS_BUILD_TABLE AVX2_BUILDS
#define PSYS_BUILD_LANES 4
#define PSYS_BUILD_TARGET __attribute__((target("avx2,fma"), flatten))
#include "particles/fast/build.h"
#endif
