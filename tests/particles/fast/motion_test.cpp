// The fast step's motion step (motion.h), in every set of lanes this machine
// runs, lane by lane against the literal one: ageing, then the motion of
// psys_move_particle, for every combination of damping, centre pull and
// gravity; fixed particles untouched.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "../helpers.h"
#include "harness.h"
#include "particles/fast/constants.h"
#include "particles/fast/motion.h"

namespace {

// Particles on and beyond the walls and corners (moving out, along them, and
// back in from outside), on the centre lines, at rest, fixed, with lives
// about to run out or below zero, and random ones.
std::vector<particle> particles() {
    std::vector<particle> all = {
        {0.999, 0.5, 0.0044, 0, 500},  {0.3, 0.002, 1e-9, -3e-9, 500}, {1.0, 0.7, 0, 1e-7, 500},
        {0.25, 0.25, 0, 0, 500},       {0, 0, -1e-3, -1e-3, 3},        {1, 1, 0, 0, 1},
        {1.01, 1.01, -1e-3, -1e-3, 2}, {-0.01, 0.5, -1e-3, 0, 9},      {0.5, 0.25, 0, 0, 500},
        {0.25, 0.5, 0, 0, 500},        {0.5, 0.5, 0.001, 0.002, 0},    {0.4, 0.6, 0.3, -0.2, FIXED_LIFE},
        {0.1, 0.9, 0.002, 0.003, -5},  {0.0001, 0.9999, 0, 0.01, 7},
    };
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> place(0.0, 1.0), speed(-0.005, 0.005);
    while (all.size() < 128)
        all.push_back({place(rng), place(rng), speed(rng), speed(rng), rng() % 8 ? int(rng() % 2000) : FIXED_LIFE});
    return all;
}

template <class D>
constexpr int WIDTH = sizeof(D) / sizeof(double);

// W particles' records through the motion step in lanes; the high half of
// each fifth word (padding) holds a pattern the step must keep.
template <class D>
void motion_in_lanes(const fast::step_params &sp, particle *p) {
    const fast::canvas cv{nullptr, 0, 0, 0, nullptr, 0, psys_raised(0)};
    const step_constants<D> k(sp, cv);
    chunk<D> c;
    for (int l = 0; l < WIDTH<D>; ++l) {
        c.x[l] = p[l].x, c.y[l] = p[l].y, c.vx[l] = p[l].vx, c.vy[l] = p[l].vy;
        memcpy(reinterpret_cast<char *>(&c.life) + 8 * l, &p[l].life, 8);
    }
    motion_step(c, sp, k);
    for (int l = 0; l < WIDTH<D>; ++l) {
        p[l].x = c.x[l], p[l].y = c.y[l], p[l].vx = c.vx[l], p[l].vy = c.vy[l];
        memcpy(&p[l].life, reinterpret_cast<const char *>(&c.life) + 8 * l, 8);
    }
}
#if defined(__x86_64__)
AVX512 __attribute__((flatten)) void in_eight(const fast::step_params &sp, particle *p) { motion_in_lanes<d8>(sp, p); }
AVX2 __attribute__((flatten)) void in_four(const fast::step_params &sp, particle *p) { motion_in_lanes<d4>(sp, p); }
#endif

constexpr unsigned PADDING = 0x5a5a5a5a;

// The literal motion of one particle in psys_move, up to where a particle
// whose life ran out is respawned: a fixed one is skipped, any other aged by
// one and moved.
particle literal_motion(const psys &ps, particle p) {
    if (p.life == FIXED_LIFE) return p;
    --p.life;
    psys_move_particle(&ps, SPEED_SCALE / ps.cset[0]->value, &p);
    return p;
}

TEST(FastMotion, InLanesAsTheLiteralStepForEverySetting) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor: its lanes read a life as a little-endian half";
    using lanes_fn = void (*)(const fast::step_params &, particle *);
    std::vector<std::pair<int, lanes_fn>> widths = {{2, motion_in_lanes<d2>}};
#if defined(__x86_64__)
    if (psys_simd_best() >= psys_simd::avx2) widths.push_back({4, in_four});
    if (psys_simd_best() >= psys_simd::avx512) widths.push_back({8, in_eight});
#endif
    const std::vector<particle> cases = particles();
    TestSystem sys(1);
    sys.ps.gravity_x = 0.0002;  // both components of gravity enter
    for (double speed : {110.0, 490.0})
        for (int flags = 0; flags < 8; ++flags) {
            maxspeed.value = speed;
            sys.ps.damping_on = flags & 1, sys.ps.pull_on = flags >> 1 & 1, sys.ps.gravity_on = flags >> 2 & 1;
            SCOPED_TRACE(testing::Message() << "maxspeed " << speed << ", damping " << (flags & 1) << ", pull "
                                            << (flags >> 1 & 1) << ", gravity " << (flags >> 2 & 1));
            const fast::step_params sp = fast::params_of(&sys.ps);
            for (auto [w, in_lanes] : widths)
                for (size_t i = 0; i + w <= cases.size(); i += w) {
                    particle p[8];
                    for (int l = 0; l < w; ++l) {
                        p[l] = cases[i + l];
                        memcpy(reinterpret_cast<char *>(&p[l].life) + 4, &PADDING, 4);
                    }
                    in_lanes(sp, p);
                    for (int l = 0; l < w; ++l) {
                        const particle want = literal_motion(sys.ps, cases[i + l]);
                        unsigned padding;
                        memcpy(&padding, reinterpret_cast<const char *>(&p[l].life) + 4, 4);
                        const bool same = !memcmp(&p[l].x, &want.x, sizeof want.x) &&
                                          !memcmp(&p[l].y, &want.y, sizeof want.y) &&
                                          !memcmp(&p[l].vx, &want.vx, sizeof want.vx) &&
                                          !memcmp(&p[l].vy, &want.vy, sizeof want.vy) && p[l].life == want.life;
                        ASSERT_TRUE(same)
                            << w << " lanes, particle " << i + l << ": (" << p[l].x << ", " << p[l].y << ", " << p[l].vx
                            << ", " << p[l].vy << ", " << p[l].life << ") instead of (" << want.x << ", " << want.y
                            << ", " << want.vx << ", " << want.vy << ", " << want.life << ")";
                        ASSERT_EQ(padding, PADDING) << w << " lanes, particle " << i + l << ": padding changed";
                    }
                }
        }
    psys_reset_defaults(&sys.ps);
}

}  // namespace
