// The threaded schedule (schedule.h) against the schedule on one thread: the
// same build stepped with fast::step on pools of two, three and seven
// threads, cut into parts as small as a block, must leave the particles, the
// painted buffer and the generators as the one-thread step leaves them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "particles/fast/dispatch.h"
#include "particles/fast/schedule.h"
#include "particles/fast/state.h"
#include "pool/workers.h"

namespace {

constexpr int WIDTH = 97, HEIGHT = 61;
using edit_fn = std::function<void(psys &)>;

// One copy of a started system, with the state of its steps and its own generator.
struct copy : system_copy {
    std::vector<unsigned char> buffer = std::vector<unsigned char>(WIDTH * HEIGHT);
    generator gen;
    fast::kept st{};

    // `frames` steps with the build for the installed law, on `pool` (or this
    // thread alone), painting when `paint`.
    void step(int frames, bool paint, workers *pool) {
        gen.use();
        for (int f = 0; f < frames; ++f) {
            const fast::law_build *build = fast::build_for(&ps, st.builds);
            ASSERT_NE(build, nullptr);
            const fast::step_params sp = fast::params_of(&ps);
            const fast::canvas cv{paint ? buffer.data() : nullptr,
                                  WIDTH,
                                  WIDTH - 3.0,
                                  HEIGHT - 3.0,
                                  paint ? st.cells_for(ps.count) : nullptr,
                                  WIDTH * HEIGHT,
                                  psys_raised(static_cast<unsigned char>(29 * f + 5))};
            fast::step(sp, cv, *build, st, pool);
        }
    }
};

// Both copies of one start: `alone` stepped on this thread, `shared` on the pool.
struct pair_of_copies {
    copy alone, shared;
    pair_of_copies(psys_simd isa, int count, const psys_mode &mode, const edit_fn &edit) {
        initstate(1, home_state, sizeof home_state);
        const started_system start(count, [&](psys &ps) {
            mode.set(&ps);
            if (edit) edit(ps);
        });
        for (copy *c : {&alone, &shared}) {
            c->take(start.ps);
            for (size_t i = 0; i < c->buffer.size(); ++i) c->buffer[i] = static_cast<unsigned char>(i * 13);
            c->gen.seed(7);
            c->st.builds = fast::builds_for(isa);
            c->st.min_part = 1;
        }
    }
    ~pair_of_copies() { setstate(home_state); }

    testing::AssertionResult same() {
        if (auto r = same_particles(alone.particles, shared.particles); !r) return r;
        if (alone.buffer != shared.buffer) return testing::AssertionFailure() << "buffers differ";
        return same_draws(alone.gen, shared.gen, 4);
    }
};

// Respawns in every part, starfield re-placements in every part (put off by
// the parts that other threads sweep), fixed particles beside part
// boundaries; painted and not.
TEST(FastSchedule, PartsOnPoolsAsOneThread) {
    const edit_fn busy = [](psys &ps) {
        make_busy(ps);
        for (int i = 255; i < ps.count; i += 256) psys_setparticle_at(&ps, &ps.particles[i], 0.5, 0.5);
    };
    for (int threads : {2, 3, 7}) {
        workers pool(threads);
        for (psys_simd isa : isas())
            for (bool paint : {true, false}) {
                SCOPED_TRACE(std::string(psys_simd_name(isa)) + ", threads " + std::to_string(threads) +
                             (paint ? ", painting" : ", not painting"));
                for (const psys_mode &m : PSYS_MODES) {
                    pair_of_copies c(isa, 4099, m, busy);
                    c.alone.step(12, paint, nullptr);
                    c.shared.step(12, paint, &pool);
                    EXPECT_TRUE(c.same()) << m.name;
                }
            }
    }
}

// More lives running out in each part than a part keeps the indices of.
TEST(FastSchedule, MoreRespawnsInEachPartThanItKeeps) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor";
    workers pool(2);
    const int count = 2 * 16 * (fast::PENDING_CAP + 100);  // two threads, sixteen parts each
    for (int mode : {3, 4}) {
        pair_of_copies c(psys_simd_best(), count, PSYS_MODES[mode], [](psys &ps) {
            ps.life_span = 1;
            for (int i = 0; i < ps.count; ++i) ps.particles[i].life = 0;
        });
        c.alone.step(2, true, nullptr);
        c.shared.step(2, true, &pool);
        EXPECT_TRUE(c.same()) << PSYS_MODES[mode].name;
    }
}

// The pool's threads share a step only when each of at least two gets
// min_part particles and a block; else the step stays on this thread, whose
// step keeps no parts.
TEST(FastSchedule, ThreadsOnlyWithMinPartParticlesAndABlockEach) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor";
    workers pool(3);
    struct Case {
        int count, min_part;
        size_t parts;  // 16 per thread, at most one per block
    } cases[] = {{1000, 501, 0},
                 {1000, 500, 4},
                 {100 * fast::BLOCK, 100 * fast::BLOCK / 3, 48},
                 {100 * fast::BLOCK, 100 * fast::BLOCK / 3 + 1, 32},
                 {3 * fast::BLOCK, 1, 3},
                 {fast::BLOCK, 1, 0}};
    for (const Case &c : cases) {
        pair_of_copies copies(psys_simd_best(), c.count, PSYS_MODES[3], {});
        copies.shared.st.min_part = c.min_part;
        copies.shared.step(1, true, &pool);
        EXPECT_EQ(copies.shared.st.parts.size(), c.parts) << c.count << " particles, " << c.min_part << " each";
    }
}

}  // namespace
