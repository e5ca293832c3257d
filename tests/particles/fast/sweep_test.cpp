// The sweep over a part of the array (sweep.h), through a build's sweep
// function: the array cut into parts of whole blocks from the top, each
// swept in turn from what it was told of its neighbours before the step,
// must leave every particle as the literal step does, except those whose
// life runs out, which it lists, highest index first, for their respawn;
// and give every other particle its buffer index.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "../helpers.h"
#include "harness.h"
#include "particles/fast/dispatch.h"
#include "particles/fast/state.h"
#include "particles/psys-paint.h"
#include "particles/random-lease.h"

namespace {

constexpr int WIDTH = 131, HEIGHT = 77;
// A system of `count` particles under mode m, a life running out in every
// ninth, and starfield particles outside the inner box in every seventh.
struct started : system_copy {
    started(int count, const psys_mode &m) {
        srandom(3);
        take(started_system(count, [&](psys &ps) {
                 m.set(&ps);
                 ps.gravity_on = 1;
                 for (int i = 0; i < count; ++i) {
                     if (i % 9 == 4) ps.particles[i].life = 0;
                     if (i % 7 == 2) ps.particles[i].y = i % 2 ? 0.99995 : 0.00005;
                 }
             }).ps);
    }
};

// The parts [lo, hi), from the top: whole blocks, the lowest part the rest.
std::vector<fast::part> cut(int count, const std::vector<int> &blocks_per_part) {
    std::vector<fast::part> parts(blocks_per_part.size() + 1);
    int hi = count;
    for (size_t p = 0; p < parts.size(); ++p) {
        parts[p].hi = hi;
        parts[p].lo = p < blocks_per_part.size() ? hi - blocks_per_part[p] * fast::BLOCK : 0;
        hi = parts[p].lo;
    }
    return parts;
}

TEST(FastSweep, PartsSweptInTurnAsTheLiteralStepListingTheRespawns) {
    const int count = 7 * fast::BLOCK + 77;
    for (psys_simd isa : isas())
        for (const psys_mode &m : PSYS_MODES)
            for (const std::vector<int> &split : {std::vector<int>{}, {1, 2, 3}, {7}}) {
                SCOPED_TRACE(std::string(psys_simd_name(isa)) + ", " + m.name + ", " +
                             std::to_string(split.size() + 1) + " parts");
                initstate(1, home_state, sizeof home_state);
                started literal(count, m), swept(count, m);
                generator gen;
                gen.seed(5);
                psys_automovep(&literal.ps);
                gen.seed(5);

                const fast::step_params sp = fast::params_of(&swept.ps);
                std::vector<unsigned char> buffer(WIDTH * HEIGHT);
                fast::kept st{};  // the buffer indices, placed as the eight-lane sweep's stores need
                int *const cells = st.cells_for(count);
                const fast::canvas cv{buffer.data(), WIDTH,          WIDTH - 3.0,   HEIGHT - 3.0,
                                      cells,         WIDTH * HEIGHT, psys_raised(1)};
                const fast::law_build &build = *fast::build_for(&swept.ps, fast::builds_for(isa));
                std::vector<fast::part> parts = cut(count, split);
                particle *ps = swept.particles.data();
                for (fast::part &pt : parts) {
                    pt.above_x = pt.hi < count ? ps[pt.hi].x : 0;
                    pt.above_y = pt.hi < count ? ps[pt.hi].y : 0;
                    pt.below = pt.lo > 0 ? ps[pt.lo - 1] : particle{};
                }
                {
                    std::optional<random_lease> draws;
                    if (build.place != nullptr) draws.emplace();
                    for (fast::part &pt : parts) {
                        pt.draws = draws ? &*draws : nullptr;
                        build.sweep(sp, cv, pt);
                    }
                }
                setstate(home_state);

                for (const fast::part &pt : parts) {
                    std::vector<int> want, listed(pt.pending, pt.pending + pt.pending_count);
                    for (int i = pt.hi - 1; i >= pt.lo; --i)
                        if (i % 9 == 4) want.push_back(i);
                    EXPECT_EQ(listed, want) << "respawns of part [" << pt.lo << ", " << pt.hi << ")";
                    EXPECT_FALSE(pt.pending_lost);
                }
                for (int i = 0; i < count; ++i) {
                    if (i % 9 == 4) {
                        ASSERT_EQ(cells[i], PSYS_NO_CELL) << i;
                        continue;
                    }
                    const particle &a = literal.particles[i], &b = swept.particles[i];
                    ASSERT_TRUE(!memcmp(&a.x, &b.x, sizeof a.x) && !memcmp(&a.y, &b.y, sizeof a.y) &&
                                !memcmp(&a.vx, &b.vx, sizeof a.vx) && !memcmp(&a.vy, &b.vy, sizeof a.vy) &&
                                a.life == b.life)
                        << "particle " << i << ": (" << b.x << ", " << b.y << ", " << b.vx << ", " << b.vy << ", "
                        << b.life << ") instead of (" << a.x << ", " << a.y << ", " << a.vx << ", " << a.vy << ", "
                        << a.life << ")";
                    ASSERT_EQ(cells[i], psys_paint_cell(a.x, a.y, WIDTH - 3.0, HEIGHT - 3.0, WIDTH)) << i;
                }
            }
}

// A part keeps the indices of its first PENDING_CAP respawns and, past them,
// says that it lost some.
TEST(FastSweep, RespawnsPastWhatAPartKeepsAreMarkedLost) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor";
    TestSystem sys(fast::PENDING_CAP + 300);
    for (int i = 0; i < sys.ps.count; ++i) sys[i].life = 0;
    const fast::step_params sp = fast::params_of(&sys.ps);
    const fast::canvas cv{nullptr, 0, 0, 0, nullptr, 0, psys_raised(0)};
    fast::part pt;
    pt.lo = 0;
    pt.hi = sys.ps.count;
    fast::build_for(&sys.ps, fast::builds_for(psys_simd_best()))->sweep(sp, cv, pt);
    ASSERT_EQ(pt.pending_count, fast::PENDING_CAP);
    EXPECT_TRUE(pt.pending_lost);
    for (int j = 0; j < fast::PENDING_CAP; ++j) ASSERT_EQ(pt.pending[j], sys.ps.count - 1 - j);
}

}  // namespace
