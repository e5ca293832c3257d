// Shared by the tests of the fast step's parts: the instruction sets this
// machine runs, a generator state of a test's own, started systems and their
// copies, and the comparisons of particles and draws.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "particles/fast/step.h"
#include "particles/psys-fast.h"

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

// The library's own generator state: a test starts its systems from it and
// puts the library back on it when done.
inline char home_state[256];

// A system of `count` particles started as the program starts them, from the
// generator in use, then edited.
struct started_system {
    psys ps{};
    started_system(int count, const std::function<void(psys &)> &edit) {
        psys_set_defaults(&ps);
        ps.count = count;
        EXPECT_EQ(psys_create_particles(&ps), 1);
        if (edit) edit(ps);
    }
    ~started_system() { free(ps.particles); }
};

// A copy of a started system, with particles of its own.
struct system_copy {
    psys ps{};
    std::vector<particle> particles;
    void take(const psys &from) {
        ps = from;
        particles.assign(from.particles, from.particles + from.count);
        ps.particles = particles.data();
    }
};

// A state of the generator shared by random() and rand(); a system stepped
// with it active draws from it alone.
struct generator {
    char state[256];
    void seed(unsigned s) { initstate(s, state, sizeof state); }
    void use() { setstate(state); }
};

// The next n draws of a and b, rand() and random() in turn, agree.
inline testing::AssertionResult same_draws(generator &a, generator &b, int n) {
    for (int j = 0; j < n; ++j) {
        a.use();
        const long x = j % 2 ? random() : rand();
        b.use();
        const long y = j % 2 ? random() : rand();
        if (x != y) return testing::AssertionFailure() << "generators differ";
    }
    return testing::AssertionSuccess();
}

// The particles of a and b agree field by field, bit for bit (their padding
// aside); else the first that differs.
inline testing::AssertionResult same_particles(const std::vector<particle> &a, const std::vector<particle> &b) {
    if (a.size() != b.size()) return testing::AssertionFailure() << "counts differ";
    for (size_t i = 0; i < a.size(); ++i) {
        const particle &p = a[i], &q = b[i];
        if (memcmp(&p.x, &q.x, sizeof p.x) || memcmp(&p.y, &q.y, sizeof p.y) || memcmp(&p.vx, &q.vx, sizeof p.vx) ||
            memcmp(&p.vy, &q.vy, sizeof p.vy) || p.life != q.life)
            return testing::AssertionFailure()
                   << "particle " << i << ": (" << q.x << ", " << q.y << ", " << q.vx << ", " << q.vy << ", " << q.life
                   << ") instead of (" << p.x << ", " << p.y << ", " << p.vx << ", " << p.vy << ", " << p.life << ")";
    }
    return testing::AssertionSuccess();
}

// A busy scene: lives running out every frame or two all over the array,
// and a starfield particle outside the inner box in every seventh, on
// either side; gravity on.
inline void make_busy(psys &ps) {
    ps.life_span = 3;
    ps.gravity_on = 1;
    for (int i = 0; i < ps.count; ++i) {
        particle &p = ps.particles[i];
        p.life = i % 5;
        if (i % 7 == 3) p.x = i % 2 ? 0.99995 : 0.00005;
    }
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
