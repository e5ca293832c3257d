// The sweeps in eight lanes of AVX-512 (see build.h).
#if defined(__x86_64__)
#define PSYS_BUILD_ISA avx512
#define PSYS_BUILD_TABLE AVX512_BUILDS
#define PSYS_BUILD_LANES 8
// Every processor with these AVX-512 sets also fetches for writing (prfchw).
#define PSYS_BUILD_TARGET __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,prfchw"), flatten))
#include "particles/fast/build.h"
#endif
