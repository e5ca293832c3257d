// The fast per-frame step against the literal one: particles, painted buffer
// and the generators' state must come out the same to the bit, every frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "harness.h"
#include "particles/psys-fast.h"
#include "particles/psys-paint.h"
#include "pool/workers.h"

namespace {

constexpr int WIDTH = 160, HEIGHT = 120;
using edit_fn = std::function<void(psys &)>;
using frame_fn = std::function<void(psys &, int)>;

// Each copy of the system draws from a generator state of its own.
struct world : system_copy {
    std::vector<unsigned char> buffer = std::vector<unsigned char>(WIDTH * HEIGHT);
    generator gen;
};

// One started system, copied: `plain` takes the literal step, `fast` the fused
// one in `isa`, on `pool` with at least `min_part` particles per thread when
// there is a pool, keeping its state from frame to frame.
struct twins {
    world plain, fast;
    psys_simd isa;
    workers *pool = nullptr;
    int min_part = PSYS_MIN_PART;

    twins(psys_simd isa, int count, const edit_fn &setter, const edit_fn &edit = {}) : isa(isa) {
        initstate(1, home_state, sizeof home_state);
        const started_system start(count, [&](psys &ps) {
            setter(ps);
            if (edit) edit(ps);
        });
        for (world *w : {&plain, &fast}) {
            w->take(start.ps);
            w->gen.seed(7);
        }
    }
    ~twins() { setstate(home_state); }

    bool paint = true;  // the fast step that paints, or the one that only moves
    // The picture's size in each frame: a frame may bring a new one, as a
    // resized window does.
    std::function<std::pair<int, int>(int)> size_of = [](int) { return std::pair{WIDTH, HEIGHT}; };

    // Steps both `frames` times, `before` applied to each (its generator active)
    // ahead of every frame, and compares them after every frame and at the end.
    testing::AssertionResult run(int frames, const frame_fn &before = {}) {
        psys_fast_state state(isa, min_part);
        for (int f = 0; f < frames; ++f) {
            const auto brightness = static_cast<unsigned char>(37 * f + 11);
            const auto [width, height] = size_of(f);
            for (world *w : {&plain, &fast}) {
                w->buffer.resize(static_cast<size_t>(width) * height);
                for (size_t i = 0; i < w->buffer.size(); ++i) w->buffer[i] = static_cast<unsigned char>(i * 7 + f);
                w->gen.use();
                if (before) before(w->ps, f);
            }
            plain.gen.use();
            psys_automovep(&plain.ps);
            if (paint) psys_paint_particles(&plain.ps, plain.buffer.data(), width, height, brightness);
            fast.gen.use();
            const int done = paint ? psys_automovep_paint(&fast.ps, &state, fast.buffer.data(), width, height,
                                                          brightness, pool)
                                   : psys_automovep_fast(&fast.ps, &state, pool);
            if (!done) return testing::AssertionFailure() << "fast step refused the law";
            if (auto r = same(f); !r) return r;
        }
        return same_draws(plain.gen, fast.gen, 6);
    }

    testing::AssertionResult same(int f) const {
        if (auto r = same_particles(plain.particles, fast.particles); !r) return r << " in frame " << f;
        if (plain.buffer != fast.buffer) return testing::AssertionFailure() << "frame " << f << ": buffers differ";
        return testing::AssertionSuccess();
    }
};

edit_fn setter(const psys_mode &m) {
    return [&m](psys &ps) { m.set(&ps); };
}

const char *name(psys_simd isa) { return psys_simd_name(isa); }

TEST(FastStep, EveryLawWithGravityOffAndOn) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        for (const psys_mode &m : PSYS_MODES)
            for (int gravity : {0, 1}) {
                twins t(isa, 1000, setter(m), [gravity](psys &ps) { ps.gravity_on = gravity; });
                EXPECT_TRUE(t.run(long_run(300))) << m.name << ", gravity " << gravity;
            }
    }
}

TEST(FastStep, CountsAroundTheBlockAndLaneSizes) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        for (const psys_mode &m : PSYS_MODES)
            for (int count : {1, 2, 3, 7, 8, 9, 255, 256, 257, 511, 513}) {
                twins t(isa, count, setter(m));
                EXPECT_TRUE(t.run(40)) << m.name << ", " << count << " particles";
            }
    }
}

TEST(FastStep, FixedParticlesOfABitmapLayout) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        // As the bitmap layout lays them out: a fixed particle, then nine others.
        const edit_fn layout = [](psys &ps) {
            for (int i = 0; i < ps.count; i += 10)
                psys_setparticle_at(&ps, &ps.particles[i], (i / 10 % 23) / 23.0, (i / 230) / 9.0);
            ps.gravity_on = 1;
        };
        for (const psys_mode &m : PSYS_MODES) {
            twins t(isa, 2003, setter(m), layout);
            EXPECT_TRUE(t.run(long_run(200))) << m.name;
        }
    }
}

TEST(FastStep, RespawnsFewAndAllAtOnce) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        for (const psys_mode &m : PSYS_MODES) {
            twins t(isa, 600, setter(m), [](psys &ps) {
                ps.life_span = 3;
                ps.gravity_on = 1;
                for (int i = 0; i < ps.count; ++i) ps.particles[i].life = i % 5;
            });
            EXPECT_TRUE(t.run(100)) << m.name;
        }
        // More respawns in one frame than the sweep keeps indices for.
        twins t(isa, 20000, setter(PSYS_MODES[3]), [](psys &ps) {
            ps.life_span = 1;
            ps.damping_on = 0;
            ps.pull_on = 1;
            for (int i = 0; i < ps.count; ++i) ps.particles[i].life = 0;
        });
        EXPECT_TRUE(t.run(6));
    }
}

TEST(FastStep, StarfieldPutsParticlesBackBeforeAnyRespawn) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        twins t(isa, 3000, setter(PSYS_MODES[4]), [](psys &ps) {
            ps.life_span = 40;
            for (int i = 0; i < ps.count; i += 3) ps.particles[i].x = i % 2 ? 0.99995 : 0.00005;
        });
        ASSERT_TRUE(t.run(1));
        EXPECT_NEAR(t.fast.particles[3].x, 0.4995, 0.005);  // re-placed in the first frame
        EXPECT_TRUE(t.run(300));
    }
}

TEST(FastStep, ModeSwitchesAndChangedControlValues) {
    for (psys_simd isa : isas()) {
        SCOPED_TRACE(name(isa));
        twins t(isa, 1500, setter(PSYS_MODES[3]), [](psys &ps) {
            ps.damping_on = 0;
            ps.pull_on = 1;
            ps.life_span = 50;
        });
        EXPECT_TRUE(t.run(400, [](psys &ps, int f) {
            psys_set_rnd(&ps);
            if (f % 50 == 0) psys_toggle_gravity(&ps);
            maxspeed.value = 10 + f % 49 * 10;
            ang_frc.value = f % 3 ? 30 : 1.5;
            oth_frc.value = f % 2 ? 0.35 : 3;
            spr_frc.value = f % 4 ? -2e-06 : 1e-3;
            spr_len.value = f % 5 ? 90 : 0.05;
        }));
        psys_reset_defaults(nullptr);
    }
}

TEST(FastStep, DegenerateGeometry) {
    // Coincident particles (spring reversal, infinite gravitational f), equal
    // squares, zero offsets in one axis, b on a's line of motion, particles at
    // rest, on the walls and corners, on the starfield's inner box, and one
    // outside the square moving back in (a wall sets the sign, not negates).
    static const double at[][4] = {
        {0.5, 0.5, 0, 0},       {0.5, 0.5, 0.001, 0},       {0.25, 0.25, 0, 0.002}, {0.25, 0.75, 0, 0},
        {0.3, 0.75, 0.002, 0},  {0.6, 0.75, 0, 0},          {0, 0, -1e-3, -1e-3},   {1, 1, 0, 0},
        {1, 0, 0.003, 0},       {0, 1, 0, 0.003},           {0.2, 0.2, 0, 0},       {0.2, 0.2, 0, 0},
        {0.9999, 0.0001, 0, 0}, {1.01, 1.01, -1e-3, -1e-3}, {0.5, 0.5, 0, 0}};
    const edit_fn place = [](psys &ps) {
        for (int i = 0; i < ps.count; ++i) {
            particle &p = ps.particles[i];
            p.x = at[i][0], p.y = at[i][1], p.vx = at[i][2], p.vy = at[i][3];
        }
    };
    for (psys_simd isa : isas())
        for (const psys_mode &m : PSYS_MODES) {
            twins t(isa, 15, setter(m), place);
            EXPECT_TRUE(t.run(20)) << m.name << ", " << name(isa);
        }
}

// Parts as small as a block, so that every pool really splits the array:
// boundaries beside fixed particles, respawns in every part (past the kept
// indices too), starfield re-placements in every part, a part block at 0.
TEST(FastStep, OnPoolsOfOneToSevenThreads) {
    const edit_fn busy = [](psys &ps) {
        make_busy(ps);
        for (int i = 0; i < ps.count; i += 10) psys_setparticle_at(&ps, &ps.particles[i], (i / 10 % 23) / 23.0, 0.5);
    };
    const edit_fn all_at_once = [](psys &ps) {
        ps.life_span = 1;
        for (int i = 0; i < ps.count; ++i) ps.particles[i].life = 0;
    };
    for (int threads : {1, 2, 3, 7}) {
        workers pool(threads);
        for (psys_simd isa : isas()) {
            SCOPED_TRACE(std::string(name(isa)) + ", threads " + std::to_string(threads));
            for (const psys_mode &m : PSYS_MODES) {
                twins t(isa, 5003, setter(m), busy);
                t.pool = &pool;
                t.min_part = 1;
                EXPECT_TRUE(t.run(long_run(30))) << m.name;
            }
            twins t(isa, 20000, setter(PSYS_MODES[4]), all_at_once);
            t.pool = &pool;
            t.min_part = 1;
            EXPECT_TRUE(t.run(3));
        }
    }
}

// The fast step that only moves, alone and on a pool, with respawns and
// re-placements in every part: the particles and the generators as the
// literal step leaves them, the buffer untouched.
TEST(FastStep, WithoutPaintingEveryLawMatches) {
    workers pool(2);
    const edit_fn busy = [](psys &ps) {
        ps.life_span = 4;
        for (int i = 0; i < ps.count; ++i) {
            ps.particles[i].life = i % 6;
            if (i % 5 == 1) ps.particles[i].y = 0.00002;
        }
    };
    for (psys_simd isa : isas())
        for (workers *on : {static_cast<workers *>(nullptr), &pool}) {
            SCOPED_TRACE(std::string(name(isa)) + (on ? ", on a pool" : ", alone"));
            for (const psys_mode &m : PSYS_MODES) {
                twins t(isa, 4001, setter(m), busy);
                t.paint = false;
                t.pool = on;
                t.min_part = 1;
                EXPECT_TRUE(t.run(long_run(40))) << m.name;
            }
        }
}

// A picture that changes size between frames, as a resized window's does,
// growing and shrinking, on one thread and on pools.
TEST(FastStep, APictureOfANewSizeBetweenFrames) {
    static const std::pair<int, int> sizes[] = {{160, 120}, {97, 61}, {411, 300}, {16, 16}, {160, 121}};
    for (int threads : {1, 2, 3}) {
        workers pool(threads);
        for (psys_simd isa : isas()) {
            SCOPED_TRACE(std::string(name(isa)) + ", threads " + std::to_string(threads));
            for (const psys_mode &m : PSYS_MODES) {
                twins t(isa, 3001, setter(m));
                t.pool = &pool;
                t.min_part = 1;
                t.size_of = [](int f) { return sizes[f / 3 % std::size(sizes)]; };
                EXPECT_TRUE(t.run(long_run(30))) << m.name;
            }
        }
    }
}

// Two systems stepped at the same time on two threads, each with a state of
// its own: neither disturbs the other. No law here draws, and no life runs out
// in these frames, so the generators stay out of it.
TEST(FastStep, TwoSystemsAtOnceEachWithItsOwnState) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor";
    twins a(psys_simd_best(), 3000, setter(PSYS_MODES[0])), b(psys_simd_best(), 1100, setter(PSYS_MODES[2]));
    constexpr int FRAMES = 40;
    for (twins *t : {&a, &b})
        for (int f = 0; f < FRAMES; ++f) {
            psys_automovep(&t->plain.ps);
            psys_paint_particles(&t->plain.ps, t->plain.buffer.data(), WIDTH, HEIGHT, 50);
        }
    auto fast = [](twins *t) {
        psys_fast_state state(t->isa);
        for (int f = 0; f < FRAMES; ++f)
            psys_automovep_paint(&t->fast.ps, &state, t->fast.buffer.data(), WIDTH, HEIGHT, 50);
    };
    std::thread other(fast, &b);
    fast(&a);
    other.join();
    EXPECT_TRUE(a.same(FRAMES - 1));
    EXPECT_TRUE(b.same(FRAMES - 1));
}

TEST(FastStep, UnknownLawFallsBackToTheLiteralStep) {
    twins t(psys_simd_best(), 500, [](psys &ps) { ps.force = psys_frc_sgra; });
    const std::vector<particle> before = t.fast.particles;
    const std::vector<unsigned char> blank = t.fast.buffer;
    psys_fast_state state;
    EXPECT_EQ(psys_automovep_fast(&t.fast.ps, &state), 0);
    EXPECT_EQ(psys_automovep_paint(&t.fast.ps, &state, t.fast.buffer.data(), WIDTH, HEIGHT, 50), 0);
    EXPECT_EQ(memcmp(before.data(), t.fast.particles.data(), before.size() * sizeof(particle)), 0);
    EXPECT_EQ(t.fast.buffer, blank);

    // The frame loop's call then takes the literal step and paints.
    for (world *w : {&t.plain, &t.fast}) {
        w->gen.use();
        if (w == &t.plain) {
            psys_automovep(&w->ps);
            psys_paint_particles(&w->ps, w->buffer.data(), WIDTH, HEIGHT, 50);
        } else {
            psys_step_and_paint(&w->ps, &state, w->buffer.data(), WIDTH, HEIGHT, 50);
        }
    }
    EXPECT_TRUE(t.same(0));
}

}  // namespace
