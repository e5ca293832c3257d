// The frame pacing: the sleep that fills each frame's period.
#include <gtest/gtest.h>

#include "driver/frame.h"

namespace {

TEST(FramePacing, SleepFillsThePeriodAndNeverGoesNegative) {
    EXPECT_EQ(frame_sleep_us(0), 41666);
    EXPECT_EQ(frame_sleep_us(1000), 40666);
    EXPECT_EQ(frame_sleep_us(41665), 1);
    EXPECT_EQ(frame_sleep_us(41666), 0);
    EXPECT_EQ(frame_sleep_us(50000), 0);
}

}  // namespace
