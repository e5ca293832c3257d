// The per-frame step restructured for speed, bit-identical to the literal rules.
#pragma once

#include "particles/psys2d.h"

struct workers;

// The fewest particles per thread of a threaded step: with fewer, handing the
// work to the threads costs more than it saves (on two cores, two threads
// with 100,000 each take as long as one thread; with 150,000 each they save
// a third).
constexpr int PSYS_MIN_PART = 125000;

// The fast per-frame step. Returns 1 when it has done the step, 0 when it does
// not know the installed law (the caller then takes the literal step,
// psys_automovep).
int psys_automovep_fast(psys *ps);

// The fast per-frame step that also paints every particle, at its place after
// the step, into the width x height intensity buffer: brightness is added to
// the byte under it, saturating at 255. Returns 0, having done nothing, when it
// does not know the installed law; the caller then takes the literal step and
// paints on its own. With a pool of more than one thread and enough particles
// the work is shared among its threads, to the same result.
int psys_automovep_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                         workers *pool = nullptr);

// The frame's step and painting: the fast step where it knows the law, else
// the literal step (psys_automovep) and psys_paint_particles.
void psys_step_and_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                         workers *pool = nullptr);

// The instruction sets the fast step is built for, narrowest first. The sweep
// needs a little-endian processor with vectors of doubles: x86-64 and aarch64.
// Elsewhere there is none, the fast step declines and the literal step runs.
#if defined(__x86_64__)
enum class psys_simd { sse2, avx2, avx512 };
#elif defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define PSYS_FAST_NEON 1
enum class psys_simd { neon };
#else
enum class psys_simd { none };
#endif

// The widest of them this machine runs.
psys_simd psys_simd_best();

// The fast step with a chosen instruction set (capped at psys_simd_best()),
// painting when buffer is not null, on the pool's threads when there is a
// pool of more than one and at least min_part particles for each of two
// threads. The other two call it with the widest.
int psys_automovep_simd(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                        psys_simd isa, workers *pool = nullptr, int min_part = PSYS_MIN_PART);
