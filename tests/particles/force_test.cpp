// The five force modes, the random mode choice and the two unused laws.
#include <gtest/gtest.h>

#include <cmath>

#include "helpers.h"
#include "particles/psys-fast.h"

namespace {

struct PsysForces : ::testing::Test {
    TestSystem sys{2};
    psys *ps = &sys.ps;
    particle &a = sys[0];
    particle &b = sys[1];
    void place(particle pa, particle pb) {
        a = pa;
        b = pb;
    }
};

TEST_F(PsysForces, RandomModeFollowsTheDrawModuloFive) {
    const psys_force_fn laws[5] = {psys_frc_gra, psys_frc_ang, psys_frc_oth, psys_frc_spr, psys_frc_stf};
    cvar *const slot1[5] = {&gra_frc, &ang_frc, &oth_frc, &spr_frc, nullptr};
    cvar *const slot2[5] = {nullptr, nullptr, nullptr, &spr_len, nullptr};
    bool seen[5] = {};
    for (int i = 0; i < 40; ++i) {
        srandom(1);
        for (int j = 0; j < i; ++j) random();
        long r = random() % 5;
        seen[r] = true;
        srandom(1);
        for (int j = 0; j < i; ++j) random();
        psys_set_rnd(ps);
        EXPECT_EQ(ps->force, laws[r]) << "residue " << r;
        EXPECT_EQ(ps->cset[0], &maxspeed);
        EXPECT_EQ(ps->cset[1], slot1[r]);
        EXPECT_EQ(ps->cset[2], slot2[r]);
        EXPECT_EQ(ps->cset[3], nullptr);
    }
    for (bool s : seen) EXPECT_TRUE(s);
}

TEST_F(PsysForces, GravitationalUsesTheDifferenceOfSquares) {
    psys_set_gra(ps);
    place({0.5, 0.5, 0, 0, 500}, {0.3, 0.4, 0, 0, 500});
    psys_frc_gra(ps, &a, &b);
    EXPECT_NEAR(a.vx, -0.00075, 1e-15);
    EXPECT_NEAR(a.vy, -0.0015, 1e-15);
    EXPECT_EQ(b.vx, a.vx);
    EXPECT_EQ(b.vy, a.vy);

    place({0.5, 0.5, 0, 0, 500}, {0.4, 0.2, 0, 0, 500});
    psys_frc_gra(ps, &a, &b);
    EXPECT_NEAR(a.vx, 0.006, 1e-15);
    EXPECT_NEAR(a.vy, 0.002, 1e-15);
    EXPECT_EQ(b.vx, a.vx);
    EXPECT_EQ(b.vy, a.vy);

    // Equal squares, and the same place: no change, no NaN.
    for (particle other : {particle{0.3, 0.3, 0.1, 0.2, 500}, particle{0.5, 0.5, 0.1, 0.2, 500}}) {
        place({0.5, 0.5, 0.01, 0.02, 500}, other);
        psys_frc_gra(ps, &a, &b);
        EXPECT_EQ(a.vx, 0.01);
        EXPECT_EQ(a.vy, 0.02);
        EXPECT_EQ(b.vx, 0.1);
        EXPECT_EQ(b.vy, 0.2);
    }
}

TEST_F(PsysForces, AngularBendsTowardTheOtherSide) {
    psys_set_ang(ps);
    // b below a's path (larger y): a bends toward it, b goes straight up.
    place({0.5, 0.5, 0.0044, 0, 500}, {0.5, 0.6, 0, 0, 500});
    psys_frc_ang(ps, &a, &b);
    double q = 0.0044 / 30;
    double n = std::hypot(0.0044, q);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044 * 0.0044 / n);
    EXPECT_DOUBLE_EQ(a.vy, 0.0044 * q / n);
    EXPECT_EQ(b.vx, 0.0);
    EXPECT_DOUBLE_EQ(b.vy, -0.0044);

    place({0.5, 0.5, 0.0044, 0, 500}, {0.5, 0.4, 0, 0, 500});
    psys_frc_ang(ps, &a, &b);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044 * 0.0044 / n);
    EXPECT_DOUBLE_EQ(a.vy, -0.0044 * q / n);
    EXPECT_DOUBLE_EQ(b.vy, 0.0044);
}

TEST_F(PsysForces, OtherPushesAByItsOwnSpeed) {
    psys_set_oth(ps);
    place({0.5, 0.5, 0.0044, 0, 500}, {0.5, 0.7, 0.3, 0.4, 500});
    psys_frc_oth(ps, &a, &b);
    EXPECT_DOUBLE_EQ(a.vx, 0.00594);
    EXPECT_NEAR(a.vy, 0.000308, 1e-15);
    EXPECT_EQ(b.vx, 0.3);
    EXPECT_EQ(b.vy, 0.4);
}

TEST_F(PsysForces, SpringPullsWithAnEighthFromAFixedParticle) {
    psys_set_spr(ps);
    place({0.5, 0.5, 0, 0, 500}, {0.6, 0.5, 0, 0, 500});
    psys_frc_spr(ps, &a, &b);
    EXPECT_NEAR(b.vx, -0.00001798, 1e-18);
    EXPECT_EQ(b.vy, 0.0);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044) << "a normalised, b not";
    EXPECT_EQ(a.vy, 0.0);

    place({0.5, 0.5, 0, 0, FIXED_LIFE}, {0.6, 0.5, 0, 0, 500});
    psys_frc_spr(ps, &a, &b);
    EXPECT_NEAR(b.vx, -0.0000022475, 1e-18);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044) << "a fixed particle's velocity changes too";

    place({0.5, 0.5, 0, 0, 500}, {0.6, 0.5, 0, 0, FIXED_LIFE});
    psys_frc_spr(ps, &a, &b);
    EXPECT_NEAR(b.vx, -0.00001798, 1e-18);
}

TEST_F(PsysForces, SpringReversesNearlyCoincidentParticlesHorizontally) {
    psys_set_spr(ps);
    place({0.5, 0.5, 0.001, 0.002, 500}, {0.5 + 5e-7, 0.5, -0.003, 0.004, 500});
    psys_frc_spr(ps, &a, &b);
    EXPECT_EQ(a.vx, -0.001);
    EXPECT_EQ(a.vy, 0.002);
    EXPECT_EQ(b.vx, 0.003);
    EXPECT_EQ(b.vy, 0.004);
}

// An a past any side of the open box (0.0001, 0.9999) is put back at
// random() / 2147483647 / 10000 + 0.4995 in each coordinate, x drawn first,
// so within [0.4995, 0.4996]; its velocity and b are left alone.
TEST_F(PsysForces, StarfieldReplacesOnlyOutsideTheInnerBox) {
    psys_set_stf(ps);
    const particle outside[] = {{0.99995, 0.3, 0.001, 0, 500},
                                {0.00005, 0.3, 0.001, 0, 500},
                                {0.3, 0.99995, 0, 0.001, 500},
                                {0.3, 0.00005, 0, 0.001, 500},
                                {1, 0, -0.001, 0.001, 500}};
    srandom(31);
    for (int round = 0; round < 200; ++round) {
        const long r1 = random(), r2 = random();
        srandom(31);
        for (int k = 0; k < 2 * round; ++k) random();
        place(outside[round % 5], {0.5, 0.5, 0.7, 0.7, 500});
        psys_frc_stf(ps, &a, &b);
        ASSERT_EQ(a.x, r1 / 2147483647.0 / 10000.0 + 0.4995) << round;
        ASSERT_EQ(a.y, r2 / 2147483647.0 / 10000.0 + 0.4995) << round;
        ASSERT_TRUE(a.x >= 0.4995 && a.x <= 0.4996 && a.y >= 0.4995 && a.y <= 0.4996);
        ASSERT_DOUBLE_EQ(std::hypot(a.vx, a.vy), 0.0044);
        ASSERT_EQ(b.vx, 0.7) << "b is not used";
    }
    const long next = random();

    // On the box itself nothing is drawn; the push is only the offset.
    srandom(31);
    for (int k = 0; k < 400; ++k) random();
    place({0.9999, 0.0001, 0, 0, 500}, b);
    psys_frc_stf(ps, &a, &b);
    EXPECT_EQ(a.x, 0.9999);
    EXPECT_EQ(a.y, 0.0001);
    EXPECT_EQ(random(), next);
    EXPECT_NEAR(a.vx / a.vy, -1.0, 1e-12);

    // At the centre the direction is kept and only the speed set.
    place({0.5, 0.5, 3e-5, -4e-5, 500}, b);
    psys_frc_stf(ps, &a, &b);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044 * 0.6);
    EXPECT_DOUBLE_EQ(a.vy, -0.0044 * 0.8);
}

// The last particle is never a, so it is neither turned nor re-placed.
TEST_F(PsysForces, StarfieldStepOnlyBouncesTheLastParticle) {
    psys_set_stf(ps);
    place({0.5, 0.5, 0.001, 0, 500}, {0.99999, 0.5, 0.001, 0, 500});
    psys_automovep(ps);
    EXPECT_EQ(b.x, 1.0);
    EXPECT_DOUBLE_EQ(b.vx, -0.0044);
    EXPECT_EQ(b.vy, 0.0);
}

// Fixed particles feel the law but stay where they are.
TEST_F(PsysForces, FixedParticlesTakePartInPairsButNeverMove) {
    psys_set_spr(ps);
    place({0.5, 0.5, 0, 0, FIXED_LIFE}, {0.6, 0.5, 0, 0, 500});
    psys_automovep(ps);
    EXPECT_EQ(a.x, 0.5);
    EXPECT_EQ(a.y, 0.5);
    EXPECT_DOUBLE_EQ(a.vx, 0.0044);
    EXPECT_DOUBLE_EQ(b.vx, -0.0044);
    EXPECT_DOUBLE_EQ(b.x, 0.6 - 0.0044);
}

TEST_F(PsysForces, SoftenedGravityAndItsDegenerateCases) {
    psys_set_spr(ps);  // slot 1: spr_frc, -2e-06
    place({0.5, 0.5, 0, 0, 500}, {0.6, 0.5, 0, 0, 500});
    psys_frc_sgra(ps, &a, &b);
    // f1 = k / 0.01 = -2e-4, f2 = -f1^3 / k = -4e-6, dx = -0.1
    EXPECT_NEAR(a.vx, -2.04e-5, 1e-18);
    EXPECT_NEAR(b.vx, 2.04e-5, 1e-18);
    EXPECT_EQ(a.vy, 0.0);

    place({0.5, 0.5, 0.1, 0.2, 500}, {0.5, 0.5, 0.3, 0.4, 500});
    psys_frc_sgra(ps, &a, &b);
    EXPECT_EQ(a.vx, 0.1);
    EXPECT_EQ(a.vy, 0.2);
    EXPECT_EQ(b.vx, 0.3);
    EXPECT_EQ(b.vy, 0.4);

    psys_set_stf(ps);  // slot 1 empty
    place({0.5, 0.5, 0.1, 0.2, 500}, {0.6, 0.5, 0.3, 0.4, 500});
    psys_frc_sgra(ps, &a, &b);
    EXPECT_EQ(a.vx, 0.1);
    EXPECT_EQ(b.vx, 0.3);
}

TEST_F(PsysForces, StickAddsTheSecondVelocityToTheFirst) {
    place({0.1, 0.2, 0.25, -0.5, 500}, {0.3, 0.4, 0.5, 0.125, 500});
    psys_stick(&a, &b);
    EXPECT_EQ(a.vx, 0.75);
    EXPECT_EQ(a.vy, -0.375);
    EXPECT_EQ(b.vx, 0.5);
    EXPECT_EQ(b.vy, 0.125);
}

}  // namespace
