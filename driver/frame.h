// The frame loop's own pacing.
#pragma once

#include <cstdint>

// The frame period: 24 frames per second.
constexpr int FRAME_PERIOD_US = 41666;

// Microseconds to sleep after a frame whose work took elapsed_us.
int frame_sleep_us(int64_t elapsed_us);
