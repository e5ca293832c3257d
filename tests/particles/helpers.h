// Shared by the particle tests: replay of the generator draws a spawn makes,
// and systems set up with the defaults.
#pragma once

#include <cstdlib>
#include <vector>

#include "particles/psys2d.h"

// What one spawn in the default region makes of the next five draws of the
// shared glibc generator: random() for y, x and life, rand() for vx and vy.
inline particle expected_spawn(int life_span = 1000) {
    particle p{};
    long r1 = random();
    long r2 = random();
    long r3 = random();
    int k1 = rand() % 10;
    int k2 = rand() % 10;
    p.y = 0 + 1 * (r1 / 2147483647.0);
    p.x = 0 + 1 * (r2 / 2147483647.0);
    p.life = static_cast<int>(life_span + r3 % life_span);
    p.vx = (k1 / 100000.0 + (-5.01e-05)) / 100000.0;
    p.vy = (k2 / 100000.0 + (-5.01e-05)) / 100000.0;
    return p;
}

// A system with the defaults and `count` particles that the test places.
struct TestSystem {
    psys ps{};
    std::vector<particle> store;
    explicit TestSystem(int count) : store(static_cast<size_t>(count)) {
        psys_reset_defaults(&ps);
        psys_set_defaults(&ps);
        ps.count = count;
        ps.particles = store.data();
        for (particle &p : store) p = particle{0.5, 0.5, 0, 0, 500};
    }
    particle &operator[](int i) { return store[static_cast<size_t>(i)]; }
};
