// Shared by the tests of the fast step's parts: the instruction sets this
// machine runs, a generator state of a test's own, and the settings of one
// step read from a system as the step's entry point reads them.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "particles/fast/step.h"
#include "particles/psys-fast.h"
#include "particles/psys-rules.h"

// Every instruction set this machine runs, each a build of its own; none
// where the fast step always declines.
inline std::vector<psys_simd> isas() {
    std::vector<psys_simd> all;
#if defined(__x86_64__)
    for (psys_simd isa : {psys_simd::sse2, psys_simd::avx2, psys_simd::avx512})
        if (isa <= psys_simd_best()) all.push_back(isa);
#elif PSYS_FAST_NEON
    all.push_back(psys_simd::neon);
#elif PSYS_FAST_VSX
    all.push_back(psys_simd::vsx);
#endif
    return all;
}

// A state of the generator shared by random() and rand(); a system stepped
// with it active draws from it alone.
struct generator {
    char state[256];
    void seed(unsigned s) { initstate(s, state, sizeof state); }
    void use() { setstate(state); }
};

// What a step reads from ps and the control variables of its set.
inline fast::step_params params_of(psys &ps) {
    fast::step_params sp{};
    sp.system = &ps;
    sp.particles = ps.particles;
    sp.count = ps.count;
    sp.scale = SPEED_SCALE / ps.cset[0]->value;
    sp.k1 = ps.cset[1] != nullptr ? ps.cset[1]->value : 0;
    sp.k2 = ps.cset[2] != nullptr ? ps.cset[2]->value : 0;
    sp.damping_on = ps.damping_on, sp.pull_on = ps.pull_on, sp.gravity_on = ps.gravity_on;
    sp.damping = ps.damping, sp.pull_x = ps.pull_x, sp.pull_y = ps.pull_y;
    sp.gravity_x = ps.gravity_x, sp.gravity_y = ps.gravity_y;
    return sp;
}

// The frames of a long run against the literal step: under the sanitizers,
// which look for faults of memory and undefined behaviour that the first
// frames already reach, a quarter of them (16 at least); elsewhere all.
constexpr int long_run(int frames) {
#ifdef VORBLES_SANITIZED
    return std::max(std::min(frames, 16), frames / 4);
#else
    return frames;
#endif
}
