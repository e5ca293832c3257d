// The instruction sets this processor runs, and the table of the builds of
// the sweep: one row per instruction set, one build per law.
#include "particles/fast/dispatch.h"

#include "particles/fast/builds.h"

psys_simd psys_simd_best() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw"))
        return psys_simd::avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return psys_simd::avx2;
    return psys_simd::sse2;
#elif PSYS_FAST_NEON
    return psys_simd::neon;
#elif PSYS_FAST_VSX
    return psys_simd::vsx;
#else
    return psys_simd::none;
#endif
}

const char *psys_simd_name(psys_simd isa) {
#if defined(__x86_64__)
    static const char *const names[] = {"sse2", "avx2", "avx512"};
#elif PSYS_FAST_NEON
    static const char *const names[] = {"neon"};
#elif PSYS_FAST_VSX
    static const char *const names[] = {"vsx"};
#else
    static const char *const names[] = {"none"};
#endif
    return names[static_cast<int>(isa)];
}

namespace fast {
namespace {

// The builds of each instruction set, in the order of psys_simd.
#if defined(__x86_64__)
const law_build *const BUILDS[] = {SSE2_BUILDS, AVX2_BUILDS, AVX512_BUILDS};
#elif PSYS_FAST_NEON
const law_build *const BUILDS[] = {NEON_BUILDS};
#elif PSYS_FAST_VSX
const law_build *const BUILDS[] = {VSX_BUILDS};
#endif

// The laws in the order of the builds: the literal law each restates, and
// how many slots of the control set it reads.
struct known_law {
    psys_force_fn force;
    int slots;
};
#define PSYS_FAST_KNOWN(name, law, slots) {law, slots},
const known_law LAWS[LAW_COUNT] = {PSYS_FAST_LAWS(PSYS_FAST_KNOWN)};
#undef PSYS_FAST_KNOWN

}  // namespace

const law_build *builds_for(psys_simd isa) {
#if defined(__x86_64__) || PSYS_FAST_NEON || PSYS_FAST_VSX
    if (isa > psys_simd_best()) isa = psys_simd_best();
    return BUILDS[static_cast<int>(isa)];
#else
    (void)isa;
    return nullptr;
#endif
}

const law_build *build_for(const psys *ps, const law_build *builds) {
    if (builds == nullptr) return nullptr;
    for (int i = 0; i < LAW_COUNT; ++i) {
        if (ps->force != LAWS[i].force) continue;
        for (int slot = 0; slot < LAWS[i].slots; ++slot)
            if (ps->cset[slot] == nullptr) return nullptr;
        return &builds[i];
    }
    return nullptr;
}

}  // namespace fast
