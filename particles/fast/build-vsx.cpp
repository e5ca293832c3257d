// The sweeps in two lanes of VSX on 64-bit little-endian POWER, from the
// compiler's generic vectors (see build.h).
#include "particles/psys-fast.h"
#if PSYS_FAST_VSX
#define PSYS_BUILD_ISA vsx
#define PSYS_BUILD_TABLE VSX_BUILDS
#define PSYS_BUILD_LANES 2
#define PSYS_BUILD_TARGET __attribute__((flatten))
#include "particles/fast/build.h"
#endif
