// Which build of the sweep the fast step takes (dispatch.h): the widest
// instruction set the processor has, that set's table, and in it the build
// of the installed law, found by its name; none for a law or control set the
// fast step does not know.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "../helpers.h"
#include "harness.h"
#include "particles/fast/dispatch.h"

// The builds by their names, one per instruction set and law.
#define SWEEP_OF(isa, law) \
    extern "C" void psys_sweep_##isa##_##law(const fast::step_params &, const fast::canvas &, fast::part &);
#define SWEEPS_OF(isa) SWEEP_OF(isa, gra) SWEEP_OF(isa, ang) SWEEP_OF(isa, oth) SWEEP_OF(isa, spr) SWEEP_OF(isa, stf)
#if defined(__x86_64__)
SWEEPS_OF(sse2)
SWEEPS_OF(avx2)
SWEEPS_OF(avx512)
#elif PSYS_FAST_NEON
SWEEPS_OF(neon)
#elif PSYS_FAST_VSX
SWEEPS_OF(vsx)
#endif

namespace {

using fast::build_for;
using fast::builds_for;

// Each instruction set's sweeps, in the order of the modes (gravitational,
// angular, other, spring, starfield).
struct named {
    psys_simd isa;
    const char *name;
    fast::sweep_fn sweeps[5];
};
#define NAMED(isa)                                                                                          \
    {                                                                                                       \
        psys_simd::isa, #isa, {                                                                             \
            psys_sweep_##isa##_gra, psys_sweep_##isa##_ang, psys_sweep_##isa##_oth, psys_sweep_##isa##_spr, \
                psys_sweep_##isa##_stf                                                                      \
        }                                                                                                   \
    }
#if defined(__x86_64__)
const named NAMED_BUILDS[] = {NAMED(sse2), NAMED(avx2), NAMED(avx512)};
#elif PSYS_FAST_NEON
const named NAMED_BUILDS[] = {NAMED(neon)};
#elif PSYS_FAST_VSX
const named NAMED_BUILDS[] = {NAMED(vsx)};
#endif

#if defined(__x86_64__)
// The processor's features as the kernel lists them.
std::set<std::string> cpu_flags() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("flags", 0) == 0) {
            std::istringstream words(line.substr(line.find(':') + 1));
            std::set<std::string> flags;
            for (std::string w; words >> w;) flags.insert(w);
            return flags;
        }
    return {};
}

TEST(FastDispatch, BestIsTheWidestSetTheProcessorHas) {
    const std::set<std::string> f = cpu_flags();
    ASSERT_FALSE(f.empty()) << "no flags in /proc/cpuinfo";
    const bool avx512 = f.count("avx512f") && f.count("avx512dq") && f.count("avx512vl") && f.count("avx512bw");
    const bool avx2 = f.count("avx2") && f.count("fma");
    EXPECT_EQ(psys_simd_best(), avx512 ? psys_simd::avx512 : avx2 ? psys_simd::avx2 : psys_simd::sse2);
}
#endif

#if defined(__x86_64__) || PSYS_FAST_NEON || PSYS_FAST_VSX
// Every mode picks its own law's build from the table of the instruction
// set asked for, capped at the widest the processor has; the state's steps
// take that set; only the starfield's build re-places.
TEST(FastDispatch, EachModePicksItsLawsBuildInTheSetAskedFor) {
    TestSystem sys(2);
    for (const named &asked : NAMED_BUILDS) {
        const psys_simd isa = asked.isa > psys_simd_best() ? psys_simd_best() : asked.isa;
        const named &taken = NAMED_BUILDS[static_cast<int>(isa)];
        SCOPED_TRACE(std::string(asked.name) + " asked for, " + taken.name + " taken");
        EXPECT_STREQ(psys_simd_name(asked.isa), asked.name);
        EXPECT_EQ(psys_fast_state(asked.isa).isa(), isa);
        const fast::law_build *builds = builds_for(asked.isa);
        ASSERT_NE(builds, nullptr);
        for (int mode = 0; mode < 5; ++mode) {
            PSYS_MODES[mode].set(&sys.ps);
            const fast::law_build *b = build_for(&sys.ps, builds);
            ASSERT_NE(b, nullptr) << PSYS_MODES[mode].name;
            EXPECT_EQ(b->sweep, taken.sweeps[mode]) << PSYS_MODES[mode].name;
            EXPECT_EQ(b->place != nullptr, mode == 4) << PSYS_MODES[mode].name;
        }
    }
}

// A law it does not know, and a known law missing a control variable it
// reads, are left to the literal step; a slot the law does not read may be
// empty.
TEST(FastDispatch, UnknownLawsAndMissingControlVariablesPickNothing) {
    TestSystem sys(2);
    const fast::law_build *builds = builds_for(psys_simd_best());
    sys.ps.force = psys_frc_sgra;
    EXPECT_EQ(build_for(&sys.ps, builds), nullptr);
    for (auto [mode, slot] : {std::pair{1, 1}, {2, 1}, {3, 1}, {3, 2}, {0, 0}}) {
        PSYS_MODES[mode].set(&sys.ps);
        sys.ps.cset[slot] = nullptr;
        EXPECT_EQ(build_for(&sys.ps, builds), nullptr) << PSYS_MODES[mode].name << ", slot " << slot << " empty";
    }
    psys_set_gra(&sys.ps);
    sys.ps.cset[1] = nullptr;
    EXPECT_NE(build_for(&sys.ps, builds), nullptr) << "the gravitational law reads no slot but 0";
    EXPECT_EQ(build_for(&sys.ps, nullptr), nullptr);
}
#else
TEST(FastDispatch, NoBuildsWhereThereIsNoFastStep) {
    TestSystem sys(2);
    EXPECT_STREQ(psys_simd_name(psys_simd_best()), "none");
    EXPECT_EQ(builds_for(psys_simd_best()), nullptr);
    EXPECT_EQ(build_for(&sys.ps, builds_for(psys_simd_best())), nullptr);
}
#endif

}  // namespace
