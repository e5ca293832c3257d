// The per-frame step restructured for speed, bit-identical to the literal
// rules. Its parts, in particles/fast/: the laws (laws.h) and the motion step
// (motion.h) in vector lanes, the sweep over a part of the array (sweep.h),
// one build of the sweep per instruction set and law (build-<isa>.cpp, on the
// lane primitives of lanes-<isa>.h), the table that picks a build
// (dispatch.cpp), and the schedule on one thread or a pool (schedule.cpp).
#pragma once

#include <memory>

#include "particles/psys2d.h"

struct workers;

// The fewest particles per thread of a threaded step: with fewer, handing the
// work to the threads costs more than it saves.
constexpr int PSYS_MIN_PART = 125000;

// The instruction sets the fast step is built for, narrowest first. The sweep
// needs a little-endian processor with vectors of doubles (it reads a life
// as the low half of a record's fifth word): x86-64, aarch64 and 64-bit
// little-endian POWER with VSX, whose two lanes the compiler's generic
// vectors give. Elsewhere (s390x and every other big-endian processor among
// them) there is none, the fast step declines and the literal step runs.
#if defined(__x86_64__)
enum class psys_simd { sse2, avx2, avx512 };
#elif defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define PSYS_FAST_NEON 1
enum class psys_simd { neon };
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__ && defined(__VSX__)
#define PSYS_FAST_VSX 1
enum class psys_simd { vsx };
#else
enum class psys_simd { none };
#endif

// The widest of them this machine runs.
psys_simd psys_simd_best();

// Its name: "avx512", "avx2", "sse2", "neon", "vsx", or "none".
const char *psys_simd_name(psys_simd isa);

namespace fast {
struct kept;
}

// What the fast step keeps for one particle system from frame to frame: the
// builds of its instruction set, chosen once, when it is made, and the lists
// and buffers of its steps, which a step grows on the calling thread only
// when it needs more than the steps before it. Its owner makes it before the
// first frame and keeps it for the run. One per system: two systems stepped
// in one process each have their own.
class psys_fast_state {
public:
    // isa is capped at psys_simd_best(); a threaded step gives each thread at
    // least min_part particles.
    explicit psys_fast_state(psys_simd isa = psys_simd_best(), int min_part = PSYS_MIN_PART);
    ~psys_fast_state();
    psys_fast_state(const psys_fast_state &) = delete;
    psys_fast_state &operator=(const psys_fast_state &) = delete;

    fast::kept &kept() { return *kept_; }
    // The instruction set its steps take.
    psys_simd isa() const { return isa_; }

private:
    std::unique_ptr<fast::kept> kept_;
    psys_simd isa_;
};

// The fast per-frame step. Returns 1 when it has done the step, 0, having done
// nothing, when it does not know the installed law (the caller then takes the
// literal step, psys_automovep). With a pool of more than one thread and
// enough particles the work is shared among its threads, to the same result.
int psys_automovep_fast(psys *ps, psys_fast_state *state, workers *pool = nullptr);

// The same, also painting every particle, at its place after the step, into
// the width x height intensity buffer as psys_paint_particles does.
int psys_automovep_paint(psys *ps, psys_fast_state *state, unsigned char *buffer, int width, int height,
                         unsigned char brightness, workers *pool = nullptr);

// The frame's step and painting: the fast step where it knows the law, else
// the literal step (psys_automovep) and psys_paint_particles. Returns 1 when
// the fast step did it.
int psys_step_and_paint(psys *ps, psys_fast_state *state, unsigned char *buffer, int width, int height,
                        unsigned char brightness, workers *pool = nullptr);
