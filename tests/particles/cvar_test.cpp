// Defaults, control-variable stepping and its messages.
#include <gtest/gtest.h>

#include "helpers.h"

namespace {

struct PsysCvars : ::testing::Test {
    TestSystem sys{2};
    psys *ps = &sys.ps;
    // Steps a slot `times` times and returns everything printed.
    std::string step(void (*op)(psys *, int), int slot, int times) {
        testing::internal::CaptureStdout();
        for (int i = 0; i < times; ++i) op(ps, slot);
        return testing::internal::GetCapturedStdout();
    }
};

TEST_F(PsysCvars, DefaultsFillTheRecordAndInstallTheSpringMode) {
    psys fresh{};
    fresh.particles = sys.store.data();
    psys_set_defaults(&fresh);
    EXPECT_EQ(fresh.particles, sys.store.data());  // left alone
    EXPECT_EQ(fresh.count, 10000);
    EXPECT_EQ(fresh.image_path, nullptr);
    EXPECT_EQ(fresh.force, &psys_frc_spr);
    EXPECT_EQ(fresh.cset[0], &maxspeed);
    EXPECT_EQ(fresh.cset[1], &spr_frc);
    EXPECT_EQ(fresh.cset[2], &spr_len);
    EXPECT_EQ(fresh.cset[3], nullptr);
    EXPECT_EQ(fresh.region_x0, 0);
    EXPECT_EQ(fresh.region_x1, 1);
    EXPECT_EQ(fresh.region_y0, 0);
    EXPECT_EQ(fresh.region_y1, 1);
    EXPECT_EQ(fresh.life_span, 1000);
    EXPECT_EQ(fresh.damping, 0.999999);
    EXPECT_EQ(fresh.gravity_x, 0.0);
    EXPECT_EQ(fresh.gravity_y, 0.0005);
    EXPECT_EQ(fresh.pull_x, 0.00005);
    EXPECT_EQ(fresh.pull_y, 0.00005);
    EXPECT_EQ(fresh.pull_on, 0);
    EXPECT_EQ(fresh.damping_on, 1);
    EXPECT_EQ(fresh.gravity_on, 0);
}

TEST_F(PsysCvars, MaxSpeedStepsBetweenItsBoundsNeverOntoThem) {
    EXPECT_EQ(step(psys_inc_var, 0, 38), "");
    EXPECT_EQ(maxspeed.value, 490);
    EXPECT_EQ(step(psys_inc_var, 0, 1), "Max Speed is at max value 4.900000e+02\n");
    EXPECT_EQ(maxspeed.value, 490);
    psys_reset_defaults(ps);
    EXPECT_EQ(step(psys_dec_var, 0, 10), "");
    EXPECT_EQ(maxspeed.value, 10);
    EXPECT_EQ(step(psys_dec_var, 0, 1), "Max Speed is at min value 1.000000e+01\n");
    EXPECT_EQ(maxspeed.value, 10);
}

TEST_F(PsysCvars, GravitationalForceStopsAboveZero) {
    psys_set_gra(ps);
    EXPECT_EQ(step(psys_dec_var, 1, 59), "");
    EXPECT_NEAR(gra_frc.value, 1e-10, 1e-20);
    double before = gra_frc.value;
    EXPECT_EQ(step(psys_dec_var, 1, 1), "Graviational Force is at min value 1.000000e-10\n");
    EXPECT_EQ(gra_frc.value, before);
}

// The shipped bounds and zero steps leave these variables where they start.
TEST_F(PsysCvars, VariablesWithZeroStepsNeverMove) {
    psys_set_ang(ps);
    EXPECT_EQ(step(psys_inc_var, 1, 2),
              "Angular Force is at max value 3.000000e+01\nAngular Force is at max value 3.000000e+01\n");
    EXPECT_EQ(step(psys_dec_var, 1, 3), "");
    EXPECT_EQ(ang_frc.value, 30);

    psys_set_oth(ps);
    EXPECT_EQ(step(psys_inc_var, 1, 2) + step(psys_dec_var, 1, 2), "");
    EXPECT_EQ(oth_frc.value, 0.35);

    psys_set_spr(ps);
    EXPECT_EQ(step(psys_inc_var, 1, 2), "");
    EXPECT_EQ(step(psys_dec_var, 1, 1), "Spring Constant is at min value -2.000000e-06\n");
    EXPECT_EQ(spr_frc.value, -2e-06);
    EXPECT_EQ(step(psys_inc_var, 2, 2), "");
    EXPECT_EQ(step(psys_dec_var, 2, 1), "Spring Rest Len is at min value 9.000000e+01\n");
    EXPECT_EQ(spr_len.value, 90);
}

TEST_F(PsysCvars, EmptySlotsDoNothing) {
    psys_set_stf(ps);
    std::string out;
    for (int slot = 1; slot <= 3; ++slot) out += step(psys_inc_var, slot, 1) + step(psys_dec_var, slot, 1);
    psys_set_spr(ps);
    out += step(psys_inc_var, 3, 1) + step(psys_dec_var, 3, 1);
    EXPECT_EQ(out, "");
    // Slot numbers outside the set are ignored the same way.
    EXPECT_EQ(step(psys_inc_var, 4, 1) + step(psys_dec_var, -1, 1), "");
}

TEST_F(PsysCvars, ValuesSurviveModeChangesAndResetRestoresAll) {
    psys_set_gra(ps);
    step(psys_inc_var, 1, 3);
    step(psys_dec_var, 0, 2);
    psys_set_spr(ps);
    psys_set_gra(ps);
    EXPECT_DOUBLE_EQ(gra_frc.value, 6.3e-09);
    EXPECT_EQ(maxspeed.value, 90);

    psys_set_stf(ps);  // gra_frc is not in this set, and is restored anyway
    spr_len.value = 95;
    psys_reset_defaults(ps);
    EXPECT_EQ(gra_frc.value, 6e-09);
    EXPECT_EQ(maxspeed.value, 110);
    EXPECT_EQ(spr_len.value, 90);
}

TEST_F(PsysCvars, ShowCvarPrintsTheExactLine) {
    testing::internal::CaptureStdout();
    show_cvar(ps, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "                     Max Speed : 1.100000e+02  "
              "(1.000000e+00 -> 1.100000e+02 ->  5.000000e+02 by 1.000000e+01)\n");
}

TEST_F(PsysCvars, ShowCsetPrintsFilledSlotsInOrder) {
    psys_set_spr(ps);
    testing::internal::CaptureStdout();
    psys_show_cset(ps);
    std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text,
              "                     Max Speed : 1.100000e+02  "
              "(1.000000e+00 -> 1.100000e+02 ->  5.000000e+02 by 1.000000e+01)\n"
              "               Spring Constant : -2.000000e-06  "
              "(-1.000000e-08 -> -2.000000e-06 ->  1.000000e+00 by 0.000000e+00)\n"
              "               Spring Rest Len : 9.000000e+01  "
              "(9.000000e+01 -> 9.000000e+01 ->  1.000000e+02 by 0.000000e+00)\n");
}

}  // namespace
