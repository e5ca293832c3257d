// The numbers the particle rules are made of, and the small rules every path
// of the step shares. The literal step and the fast step both take them from
// here.
#pragma once

// A random() value as a fraction of 2^31 - 1, i.e. in [0, 1].
constexpr double RANDOM_SCALE = 2147483647.0;

// The motion step and the laws bring a particle to maxspeed / SPEED_SCALE.
constexpr double SPEED_SCALE = 25000.0;

// The centre pull pushes toward this coordinate in each axis.
constexpr double CENTRE = 0.5;

// Starfield: a particle outside the open box (STAR_RIM_LO, STAR_RIM_HI) in
// either coordinate is put back at STAR_SPAWN_LO plus a random fraction of
// 1 / STAR_SPAWN_DIVISOR, and every particle drifts outward from CENTRE by
// its offset divided by STAR_DRIVE each frame.
constexpr double STAR_RIM_LO = 0.0001;
constexpr double STAR_RIM_HI = 0.9999;
constexpr double STAR_SPAWN_LO = 0.4995;
constexpr double STAR_SPAWN_DIVISOR = 10000.0;
constexpr double STAR_DRIVE = 54232.0;

// Spring: particles nearer than this bounce apart instead of pulling, and a
// fixed particle pulls with this fraction of the force.
constexpr double SPRING_NEAR = 1e-06;
constexpr double SPRING_FIXED_FACTOR = 0.125;

// A starfield coordinate put back near the centre, from one random() value.
inline double star_spawn_coord(long r) { return r / RANDOM_SCALE / STAR_SPAWN_DIVISOR + STAR_SPAWN_LO; }
