// Each force law of the fast step (laws.h), in every set of lanes this
// machine runs, against its literal law: a register of pairs, one pair per
// lane, must leave every lane's a and b as the literal law leaves that pair
// alone, to the bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <tuple>
#include <vector>

#include "../helpers.h"
#include "harness.h"
#include "particles/fast/constants.h"
#include "particles/fast/laws.h"

namespace {

struct pair_of {
    particle a, b;
};

// Random pairs, a few of them with a fixed a or b, and the places each law
// treats apart: the same place, equal squares of the offsets, a zero offset
// in one axis, b on a's line of motion, closer than the spring's limit,
// particles at rest, and a on the starfield's inner box.
std::vector<pair_of> pairs() {
    std::vector<pair_of> all = {
        {{0.5, 0.5, 0, 0, 500}, {0.3, 0.4, 0, 0, 500}},
        {{0.5, 0.5, 0, 0, 500}, {0.4, 0.2, 0, 0, 500}},
        {{0.5, 0.5, 0.0044, 0, 500}, {0.5, 0.6, 0, 0, 500}},
        {{0.5, 0.5, 0.0044, 0, 500}, {0.5, 0.7, 0.3, 0.4, 500}},
        {{0.5, 0.5, 0, 0, FIXED_LIFE}, {0.6, 0.5, 0, 0, 500}},
        {{0.5, 0.5, 0, 0, 500}, {0.6, 0.5, 0, 0, FIXED_LIFE}},
        {{0.2, 0.2, 0.001, -0.002, 500}, {0.2, 0.2, 0.003, 0.001, 500}},
        {{0.5, 0.5, 0.01, 0.02, 500}, {0.3, 0.3, 0.1, 0.2, 500}},
        {{0.5, 0.5, 0.01, 0.02, 500}, {0.7, 0.3, 0.1, 0.2, 500}},
        {{0.25, 0.25, 0.002, 0.002, 500}, {0.5, 0.5, 0, 0, 500}},
        {{0.5, 0.5, 0.001, 0.002, 500}, {0.5 + 5e-7, 0.5, -0.003, 0.004, 500}},
        {{0.9999, 0.0001, 0, 0, 500}, {0.5, 0.5, 0.7, 0.7, 500}},
        {{0.0001, 0.9999, 3e-5, -4e-5, FIXED_LIFE}, {0.5, 0.5, 0, 0, FIXED_LIFE}},
    };
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> place(0.0, 1.0), speed(-0.005, 0.005);
    while (all.size() < 256) {
        pair_of p;
        for (particle *q : {&p.a, &p.b})
            *q = {place(rng), place(rng), speed(rng), speed(rng), rng() % 8 ? 500 : FIXED_LIFE};
        all.push_back(p);
    }
    return all;
}

template <class D>
constexpr int WIDTH = sizeof(D) / sizeof(double);

template <class D>
void to_lanes(const particle *p, chunk<D> &c) {
    for (int l = 0; l < WIDTH<D>; ++l) {
        c.x[l] = p[l].x, c.y[l] = p[l].y, c.vx[l] = p[l].vx, c.vy[l] = p[l].vy;
        memcpy(reinterpret_cast<char *>(&c.life) + 8 * l, &p[l].life, sizeof p[l].life);
    }
}
template <class D>
void from_lanes(const chunk<D> &c, particle *p) {
    for (int l = 0; l < WIDTH<D>; ++l) p[l].x = c.x[l], p[l].y = c.y[l], p[l].vx = c.vx[l], p[l].vy = c.vy[l];
}

// The law on the pairs (a[l], b[l]) of W lanes: the terms of the pairs, then
// the changes to the a's (as a of their pair only) and to the b's (as b only).
template <class D, class Law>
void law_in_lanes(const fast::step_params &sp, particle *a, particle *b) {
    const fast::canvas cv{nullptr, 0, 0, 0, nullptr, 0, psys_raised(0)};
    const step_constants<D> k(sp, cv);
    chunk<D> ca, cb;
    to_lanes(a, ca);
    to_lanes(b, cb);
    const auto terms = Law::pair(ca, cb, k);
    const mask_t<D> all = eq(k.zero, k.zero), none = lt(k.zero, k.zero);
    Law::apply(ca, terms, terms, all, none, k);
    Law::apply(cb, terms, terms, none, all, k);
    from_lanes(ca, a);
    from_lanes(cb, b);
}
#if defined(__x86_64__)
template <class Law>
AVX512 __attribute__((flatten)) void in_eight(const fast::step_params &sp, particle *a, particle *b) {
    law_in_lanes<d8, Law>(sp, a, b);
}
template <class Law>
AVX2 __attribute__((flatten)) void in_four(const fast::step_params &sp, particle *a, particle *b) {
    law_in_lanes<d4, Law>(sp, a, b);
}
#endif

bool same_bits(double a, double b) { return memcmp(&a, &b, sizeof a) == 0; }

// Every pair of `cases` through the law in each width of lanes, against the
// literal law on a copy of the pair.
template <class Law>
void expect_lanes_match(psys &ps, psys_force_fn literal, const std::vector<pair_of> &cases) {
    using lanes_fn = void (*)(const fast::step_params &, particle *, particle *);
    std::vector<std::pair<int, lanes_fn>> widths = {{2, law_in_lanes<d2, Law>}};
#if defined(__x86_64__)
    if (psys_simd_best() >= psys_simd::avx2) widths.push_back({4, in_four<Law>});
    if (psys_simd_best() >= psys_simd::avx512) widths.push_back({8, in_eight<Law>});
#endif
    const fast::step_params sp = fast::params_of(&ps);
    for (auto [w, in_lanes] : widths)
        for (size_t i = 0; i + w <= cases.size(); i += w) {
            particle a[8], b[8];
            for (int l = 0; l < w; ++l) a[l] = cases[i + l].a, b[l] = cases[i + l].b;
            in_lanes(sp, a, b);
            for (int l = 0; l < w; ++l) {
                pair_of want = cases[i + l];
                literal(&ps, &want.a, &want.b);
                for (auto [got, exp, what] : {std::tuple{&a[l], &want.a, "a"}, std::tuple{&b[l], &want.b, "b"}})
                    if (!same_bits(got->x, exp->x) || !same_bits(got->y, exp->y) || !same_bits(got->vx, exp->vx) ||
                        !same_bits(got->vy, exp->vy)) {
                        ADD_FAILURE() << w << " lanes, pair " << i + l << ", " << what << ": (" << got->vx << ", "
                                      << got->vy << ") instead of (" << exp->vx << ", " << exp->vy << ")";
                        return;
                    }
            }
        }
}

// The law under each setting of its control variables: the defaults, and others.
template <class Law>
void check(void (*set)(psys *), psys_force_fn literal, const std::vector<std::function<void()>> &settings,
           const std::vector<pair_of> &cases = pairs()) {
    TestSystem sys(2);
    for (const auto &setting : settings) {
        psys_reset_defaults(&sys.ps);
        set(&sys.ps);
        setting();
        expect_lanes_match<Law>(sys.ps, literal, cases);
    }
    psys_reset_defaults(&sys.ps);
}

const auto defaults = [] {};

TEST(FastLaws, GravitationalInLanes) {
    check<laws::gra>(psys_set_gra, psys_frc_gra, {defaults, [] { maxspeed.value = 490; }});
}

TEST(FastLaws, AngularInLanes) {
    check<laws::ang>(psys_set_ang, psys_frc_ang,
                     {defaults, [] { ang_frc.value = 1.5; },
                      [] {
                          ang_frc.value = 7;
                          maxspeed.value = 10;
                      }});
}

TEST(FastLaws, OtherInLanes) {
    check<laws::oth>(psys_set_oth, psys_frc_oth, {defaults, [] { oth_frc.value = 3; }});
}

TEST(FastLaws, SpringInLanes) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor: its lanes read a life as a little-endian half";
    check<laws::spr>(psys_set_spr, psys_frc_spr, {defaults, [] {
                                                      spr_frc.value = 1e-3;
                                                      spr_len.value = 0.05;
                                                      maxspeed.value = 250;
                                                  }});
}

// The push and normalisation of an a inside the inner box; the ones outside
// are put back by the sweep (below).
TEST(FastLaws, StarfieldInLanes) {
    std::vector<pair_of> inside;
    for (const pair_of &p : pairs())
        if (p.a.x >= 0.0001 && p.a.x <= 0.9999 && p.a.y >= 0.0001 && p.a.y <= 0.9999) inside.push_back(p);
    check<laws::stf>(psys_set_stf, psys_frc_stf, {defaults, [] { maxspeed.value = 10; }}, inside);
}

// Which lanes leave the open box (0.0001, 0.9999), and where a put-back
// coordinate lands: random() / 2147483647 / 10000 + 0.4995.
TEST(FastLaws, StarfieldLeavesTheOpenBoxAndIsPutBackNearTheCentre) {
    const double edges[] = {0.0001, 0.9999, std::nextafter(0.0001, 0.0), std::nextafter(0.9999, 1.0), 0.5, 0, 1};
    for (double x : edges)
        for (double y : edges) {
            const bool out = x > 0.9999 || x < 0.0001 || y > 0.9999 || y < 0.0001;
            const d2 vx = {0.5, x}, vy = {0.5, y};
            EXPECT_EQ(laws::stf::leaves(vx, vy), out ? 2u : 0u) << x << ", " << y;
        }
    EXPECT_EQ(laws::stf::put_back(0), 0.4995);
    EXPECT_EQ(laws::stf::put_back(2147483647), 0.4995 + 1 / 10000.0);
}

}  // namespace
