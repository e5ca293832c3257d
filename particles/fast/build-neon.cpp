// The sweeps in two lanes of NEON on aarch64 (see build.h).
#include "particles/psys-fast.h"
#if PSYS_FAST_NEON
#define PSYS_BUILD_ISA neon
#define PSYS_BUILD_TABLE NEON_BUILDS
#define PSYS_BUILD_LANES 2
#define PSYS_BUILD_TARGET __attribute__((flatten))
#include "particles/fast/build.h"
#endif
