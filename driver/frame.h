// The frame loop's own work: painting the particles and pacing the frames.
#pragma once

#include <cstdint>

#include "display/gfx-x.h"
#include "particles/psys2d.h"

// The frame period: 24 frames per second.
constexpr int FRAME_PERIOD_US = 41666;

// Adds brightness to the intensity-buffer byte under every particle, saturating at 255.
void paint_particles(const psys *ps, gfx *g, unsigned char brightness);

struct workers;

// Moves the particles one frame and paints them: the fused fast step where it
// knows the law (on the pool's threads when there is one), else the literal
// step followed by paint_particles.
void move_and_paint_particles(psys *ps, gfx *g, unsigned char brightness, workers *pool = nullptr);

// Microseconds to sleep after a frame whose work took elapsed_us.
int frame_sleep_us(int64_t elapsed_us);
