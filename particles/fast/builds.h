// The builds of the sweep: for every instruction set one table, holding one
// build per law in the order of the law table (PSYS_FAST_LAWS in laws.h).
// Each table is made in its instruction set's build-<isa>.cpp; dispatch.cpp
// picks one.
#pragma once

#include "particles/fast/laws.h"
#include "particles/fast/step.h"
#include "particles/psys-fast.h"

namespace fast {

#define PSYS_FAST_COUNT(name, law, slots) +1
constexpr int LAW_COUNT = 0 PSYS_FAST_LAWS(PSYS_FAST_COUNT);
#undef PSYS_FAST_COUNT

#if defined(__x86_64__)
extern const law_build SSE2_BUILDS[LAW_COUNT];
extern const law_build AVX2_BUILDS[LAW_COUNT];
extern const law_build AVX512_BUILDS[LAW_COUNT];
#elif PSYS_FAST_NEON
extern const law_build NEON_BUILDS[LAW_COUNT];
#elif PSYS_FAST_VSX
extern const law_build VSX_BUILDS[LAW_COUNT];
#endif

}  // namespace fast
