// Spawning, creation, the per-frame step and its pairings, spawn regions.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <utility>

#include "helpers.h"
#include "particles/psys-fast.h"

namespace {

void expect_same(const particle &got, const particle &want) {
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.vx, want.vx);
    EXPECT_EQ(got.vy, want.vy);
    EXPECT_EQ(got.life, want.life);
}

// A law that records the index pair of every call.
std::vector<std::pair<long, long>> calls;
void record_pair(psys *ps, particle *a, particle *b) { calls.emplace_back(a - ps->particles, b - ps->particles); }

TEST(PsysSpawn, DrawsYXLifeFromRandomThenDirectionFromRand) {
    TestSystem sys(1);
    for (unsigned seed : {1u, 7u, 12345u}) {
        srandom(seed);
        particle want = expected_spawn();
        srandom(seed);
        psys_resetparticle(&sys.ps, &sys[0]);
        expect_same(sys[0], want);
        long next = random();
        srandom(seed);
        for (int i = 0; i < 5; ++i) random();
        EXPECT_EQ(next, random()) << "a spawn consumes exactly five draws";
    }
    EXPECT_GE(sys[0].life, 1000);
    EXPECT_LE(sys[0].life, 1999);
}

TEST(PsysSpawn, DirectionIsOneOfAHundredAndNeverZero) {
    TestSystem sys(1);
    srandom(3);
    for (int i = 0; i < 500; ++i) {
        psys_resetparticle(&sys.ps, &sys[0]);
        double kx = sys[0].vx * 1e10 + 5.01;  // the rand() residue k1
        double ky = sys[0].vy * 1e10 + 5.01;
        EXPECT_NEAR(kx, std::round(kx), 1e-9);
        EXPECT_NEAR(ky, std::round(ky), 1e-9);
        EXPECT_TRUE(std::round(kx) >= 0 && std::round(kx) <= 9 && std::round(ky) >= 0 && std::round(ky) <= 9);
        EXPECT_NE(sys[0].vx, 0.0);
        EXPECT_NE(sys[0].vy, 0.0);
    }
}

TEST(PsysSpawn, FixedParticleRefusesWithAMessage) {
    TestSystem sys(1);
    sys[0] = particle{0.3, 0.4, 0, 0, FIXED_LIFE};
    srandom(5);
    long next = random();
    srandom(5);
    testing::internal::CaptureStdout();
    psys_resetparticle(&sys.ps, &sys[0]);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Asked to reset a fixed particle ? Why!?\n");
    expect_same(sys[0], particle{0.3, 0.4, 0, 0, FIXED_LIFE});
    EXPECT_EQ(random(), next) << "no draw was consumed";
}

TEST(PsysCreate, SpawnsEveryParticleInIndexOrder) {
    psys ps{};
    psys_set_defaults(&ps);
    ps.count = 6;
    srandom(11);
    ASSERT_EQ(psys_create_particles(&ps), 1);
    ASSERT_NE(ps.particles, nullptr);
    srandom(11);
    for (int i = 0; i < 6; ++i) expect_same(ps.particles[i], expected_spawn());
    free(ps.particles);
}

TEST(PsysResetAll, RespawnsInIndexOrderAndSkipsFixedOnes) {
    TestSystem sys(4);
    sys[2] = particle{0.2, 0.3, 0, 0, FIXED_LIFE};
    srandom(9);
    testing::internal::CaptureStdout();
    psys_reset_all_particles(&sys.ps);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Asked to reset a fixed particle ? Why!?\n");
    srandom(9);
    expect_same(sys[0], expected_spawn());
    expect_same(sys[1], expected_spawn());
    expect_same(sys[2], particle{0.2, 0.3, 0, 0, FIXED_LIFE});
    expect_same(sys[3], expected_spawn());
}

TEST(PsysStep, PairsRunFromTheLastToTheFirstThenTheMove) {
    TestSystem sys(4);
    sys.ps.force = record_pair;
    calls.clear();
    psys_automovep(&sys.ps);
    EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{2, 3}, {1, 2}, {0, 1}}));
    EXPECT_EQ(sys[3].life, 499) << "the move follows";

    TestSystem single(1);
    single.ps.force = record_pair;
    single[0].vx = 0.001;
    calls.clear();
    psys_automovep(&single.ps);
    EXPECT_TRUE(calls.empty());
    EXPECT_DOUBLE_EQ(single[0].x, 0.5044);
}

TEST(PsysStep, UnusedPairingsVisitTheirOrder) {
    TestSystem sys(3);
    sys.ps.force = record_pair;
    calls.clear();
    psys_frc_to_next(&sys.ps);
    EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{1, 2}, {0, 1}}));
    EXPECT_EQ(sys[0].life, 500) << "no motion step";
    calls.clear();
    psys_frc_to_lead(&sys.ps);
    EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{2, 0}, {1, 0}, {0, 0}}));
    calls.clear();
    psys_frc_to_all(&sys.ps);
    EXPECT_EQ(calls, (std::vector<std::pair<long, long>>{{2, 1}, {2, 0}, {1, 0}}));
}

// With gravity and pull off every moving particle covers maxspeed / 25000.
TEST(PsysMove, NormalisesToTheCommonSpeedAndBouncesOffWalls) {
    TestSystem sys(4);
    sys[0] = particle{0.999, 0.5, 0.0044, 0, 500};
    sys[1] = particle{0.3, 0.002, 1e-9, -3e-9, 500};
    sys[2] = particle{1.0, 0.7, 0, 1e-7, 500};  // on the wall, moving along it
    sys[3] = particle{0.25, 0.25, 0, 0, 500};   // at rest
    psys_move(&sys.ps);

    EXPECT_EQ(sys[0].x, 1.0);
    EXPECT_DOUBLE_EQ(sys[0].vx, -0.0044);
    EXPECT_EQ(sys[0].vy, 0.0);
    EXPECT_EQ(sys[0].life, 499);

    EXPECT_DOUBLE_EQ(sys[1].vx, 0.0044 / std::sqrt(10.0));
    EXPECT_DOUBLE_EQ(sys[1].vy, 3 * 0.0044 / std::sqrt(10.0)) << "bounced off the top";
    EXPECT_EQ(sys[1].y, 0.0);
    EXPECT_DOUBLE_EQ(sys[1].x, 0.3 + 0.0044 / std::sqrt(10.0));

    EXPECT_EQ(sys[2].x, 1.0);
    EXPECT_FALSE(std::signbit(sys[2].vx)) << "exactly on the wall is no bounce";
    EXPECT_DOUBLE_EQ(sys[2].y, 0.7044);

    expect_same(sys[3], particle{0.25, 0.25, 0, 0, 499});

    // The next frame leaves the corner walls with the speed unchanged.
    psys_move(&sys.ps);
    EXPECT_DOUBLE_EQ(sys[0].x, 1 - 0.0044);
    EXPECT_DOUBLE_EQ(std::hypot(sys[1].vx, sys[1].vy), 0.0044);
}

TEST(PsysMove, FollowsMaxSpeedInSlotZero) {
    TestSystem sys(1);
    sys[0] = particle{0.5, 0.5, 0, -1, 10};
    maxspeed.value = 250;
    psys_move(&sys.ps);
    psys_reset_defaults(&sys.ps);
    EXPECT_DOUBLE_EQ(sys[0].vy, -0.01);
    EXPECT_DOUBLE_EQ(sys[0].y, 0.49);
}

TEST(PsysMove, FixedParticlesAreSkippedEntirely) {
    TestSystem sys(2);
    sys[0] = particle{0.4, 0.6, 0.3, -0.2, FIXED_LIFE};
    sys.ps.gravity_on = 1;
    psys_move(&sys.ps);
    expect_same(sys[0], particle{0.4, 0.6, 0.3, -0.2, FIXED_LIFE});
}

TEST(PsysMove, GravityIsAddedAfterTheNormalisation) {
    TestSystem sys(1);
    sys[0] = particle{0.5, 0.5, 1, 0, 500};
    psys_toggle_gravity(&sys.ps);
    ASSERT_EQ(sys.ps.gravity_on, 1);
    psys_move(&sys.ps);
    EXPECT_DOUBLE_EQ(sys[0].vx, 0.0044);
    EXPECT_DOUBLE_EQ(sys[0].vy, 0.0005);
    EXPECT_DOUBLE_EQ(sys[0].x, 0.5044);
    EXPECT_DOUBLE_EQ(sys[0].y, 0.5005);
    psys_move(&sys.ps);  // renormalised, bending downward
    EXPECT_DOUBLE_EQ(std::hypot(sys[0].vx, sys[0].vy - 0.0005), 0.0044);
    EXPECT_GT(sys[0].vy, 0.0005);
    psys_toggle_gravity(&sys.ps);
    EXPECT_EQ(sys.ps.gravity_on, 0);
}

TEST(PsysMove, CentrePullPointsTowardSmallerCoordinatesOnTheLine) {
    TestSystem sys(1);
    sys[0] = particle{0.5, 0.25, 0, 0, 500};
    sys.ps.pull_on = 1;
    psys_move(&sys.ps);
    EXPECT_DOUBLE_EQ(sys[0].vx, -0.0044 / std::sqrt(2.0));
    EXPECT_DOUBLE_EQ(sys[0].vy, 0.0044 / std::sqrt(2.0));
}

TEST(PsysMove, LifeZeroRespawnsAndMovesInTheSameFrame) {
    TestSystem sys(1);
    sys[0] = particle{0.5, 0.5, 0, 0, 0};
    srandom(21);
    particle spawn = expected_spawn();
    srandom(21);
    psys_move(&sys.ps);
    EXPECT_EQ(sys[0].life, spawn.life) << "not aged again after the respawn";
    double norm = std::hypot(spawn.vx, spawn.vy);
    double want_x = std::fmin(1.0, std::fmax(0.0, spawn.x + 0.0044 * spawn.vx / norm));
    double want_y = std::fmin(1.0, std::fmax(0.0, spawn.y + 0.0044 * spawn.vy / norm));
    EXPECT_NEAR(sys[0].x, want_x, 1e-15);
    EXPECT_NEAR(sys[0].y, want_y, 1e-15);

    // Below zero (but not fixed) a life only keeps counting down.
    sys[0].life = -5;
    psys_move(&sys.ps);
    EXPECT_EQ(sys[0].life, -6);
}

// The motion step walks the array from the end, so respawns draw in that order.
TEST(PsysMove, RespawnsDrawFromTheLastParticleFirst) {
    TestSystem sys(3);
    for (int i = 0; i < 3; ++i) sys[i].life = 0;
    srandom(13);
    particle last = expected_spawn();
    particle middle = expected_spawn();
    particle first = expected_spawn();
    srandom(13);
    psys_move(&sys.ps);
    EXPECT_EQ(sys[2].life, last.life);
    EXPECT_EQ(sys[1].life, middle.life);
    EXPECT_EQ(sys[0].life, first.life);
    EXPECT_NEAR(sys[2].x, last.x, 0.0045);
    EXPECT_NEAR(sys[0].y, first.y, 0.0045);
}

TEST(PsysRegions, SetRegionTruncatesTowardZero) {
    TestSystem sys(1);
    psys_set_region(&sys.ps, 0.9, 1.7, -0.5, 2.2);
    EXPECT_EQ(sys.ps.region_x0, 0);
    EXPECT_EQ(sys.ps.region_x1, 1);
    EXPECT_EQ(sys.ps.region_y0, 0);
    EXPECT_EQ(sys.ps.region_y1, 2);
    psys_set_region(&sys.ps, 1e300, -1e300, NAN, -3.9);  // held, not overflowed
    EXPECT_EQ(sys.ps.region_x0, INT_MAX);
    EXPECT_EQ(sys.ps.region_x1, INT_MIN);
    EXPECT_EQ(sys.ps.region_y0, 0);
    EXPECT_EQ(sys.ps.region_y1, -3);
}

TEST(PsysRegions, EdgeStartsFollowTheDrawModuloFour) {
    TestSystem sys(1);
    const int right[4] = {1, 1, 0, 1};
    const int bottom[4] = {1, 0, 1, 1};
    bool seen[4] = {};
    for (int i = 0; i < 40; ++i) {
        srandom(4);
        for (int j = 0; j < i; ++j) random();
        long r = random() % 4;
        seen[r] = true;
        srandom(4);
        for (int j = 0; j < i; ++j) random();
        sys.ps.region_x0 = sys.ps.region_y0 = 7;
        psys_rand_edge_starts(&sys.ps);
        EXPECT_EQ(sys.ps.region_x0, 0);
        EXPECT_EQ(sys.ps.region_y0, 0);
        EXPECT_EQ(sys.ps.region_x1, right[r]);
        EXPECT_EQ(sys.ps.region_y1, bottom[r]);
    }
    EXPECT_TRUE(seen[0] && seen[1] && seen[2] && seen[3]);
    // The top edge: every spawn lands on y = 0.
    psys_set_region(&sys.ps, 0, 1, 0, 0);
    psys_resetparticle(&sys.ps, &sys[0]);
    EXPECT_EQ(sys[0].y, 0.0);
}

TEST(PsysRegions, BurstPointTruncatesToZeroAfterTwoDraws) {
    TestSystem sys(1);
    srandom(8);
    random();
    random();
    long third = random();
    srandom(8);
    psys_rand_burstpt(&sys.ps);
    EXPECT_EQ(sys.ps.region_x0, 0);
    EXPECT_EQ(sys.ps.region_x1, 0);
    EXPECT_EQ(sys.ps.region_y0, 0);
    EXPECT_EQ(sys.ps.region_y1, 0);
    EXPECT_EQ(random(), third);
}

// Over many frames of every mode, with gravity toggled, maxspeed changed and
// lives running out: every particle that moves and meets no wall covers
// maxspeed / 25000 (plus the gravity), all stay in the square, and the
// generator gives exactly the draws the rules name: five per respawn, two per
// starfield re-placement, one per random mode change.
TEST(PsysStep, EveryModeMovesAtTheCommonSpeedAndDrawsWhatItSays) {
    psys ps{};
    psys_reset_defaults(&ps);
    psys_set_defaults(&ps);
    ps.count = 300;
    srandom(2024);
    ASSERT_EQ(psys_create_particles(&ps), 1);
    ps.life_span = 25;
    for (int i = 0; i < ps.count; ++i) ps.particles[i].life = i % 30;
    long draws = 5L * ps.count, respawns = 0, replacements = 0;
    for (int frame = 0; frame < 400; ++frame) {
        if (frame % 40 == 0) psys_set_rnd(&ps), ++draws;
        if (frame % 40 == 20) psys_set_stf(&ps);  // the starfield in every run of modes
        if (frame == 100 || frame == 250) psys_toggle_gravity(&ps);
        maxspeed.value = frame < 200 ? 110 : 250;
        const std::vector<particle> before(ps.particles, ps.particles + ps.count);
        psys_automovep(&ps);
        const double speed = maxspeed.value / 25000;
        for (int i = 0; i < ps.count; ++i) {
            const particle &was = before[static_cast<size_t>(i)], &p = ps.particles[i];
            ASSERT_TRUE(p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1) << frame << ": " << p.x << ", " << p.y;
            const bool replaced = ps.force == psys_frc_stf && i < ps.count - 1 &&
                                  (was.x > 0.9999 || was.x < 0.0001 || was.y > 0.9999 || was.y < 0.0001);
            draws += was.life == 0 ? 5 : 0;
            draws += replaced ? 2 : 0;
            respawns += was.life == 0, replacements += replaced;
            if (was.life == 0 || replaced || p.x == 0 || p.x == 1 || p.y == 0 || p.y == 1) continue;
            const double dy = p.y - was.y - (ps.gravity_on ? ps.gravity_y : 0);
            ASSERT_NEAR(std::hypot(p.x - was.x, dy), speed, 1e-12) << "frame " << frame << ", particle " << i;
        }
    }
    EXPECT_GT(respawns, 1000);
    EXPECT_GT(replacements, 100);
    const long next = random();
    srandom(2024);
    for (long k = 0; k < draws; ++k) random();
    EXPECT_EQ(next, random()) << "the generator was not at draw " << draws;
    free(ps.particles);
    psys_reset_defaults(&ps);
}

}  // namespace
