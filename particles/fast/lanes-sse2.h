// Two lanes in SSE2, the x86-64 baseline.
#pragma once

#include <emmintrin.h>

#include "particles/fast/lane-types.h"
#include "particles/psys-paint.h"
#include "particles/psys2d.h"

namespace {

// Two records are five registers of two words each.
inline void load_lanes(const particle *p, chunk<d2> &c) {
    const double *q = reinterpret_cast<const double *>(p);
    const __m128d r0 = _mm_loadu_pd(q), r1 = _mm_loadu_pd(q + 2), r2 = _mm_loadu_pd(q + 4);
    const __m128d r3 = _mm_loadu_pd(q + 6), r4 = _mm_loadu_pd(q + 8);
    c.x = (d2)_mm_shuffle_pd(r0, r2, 0b10);
    c.y = (d2)_mm_shuffle_pd(r0, r3, 0b01);
    c.vx = (d2)_mm_shuffle_pd(r1, r3, 0b10);
    c.vy = (d2)_mm_shuffle_pd(r1, r4, 0b01);
    c.life = (d2)_mm_shuffle_pd(r2, r4, 0b10);
}
inline void store_lanes(particle *p, const chunk<d2> &c) {
    double *q = reinterpret_cast<double *>(p);
    const __m128d x = (__m128d)c.x, y = (__m128d)c.y, vx = (__m128d)c.vx, vy = (__m128d)c.vy;
    const __m128d life = (__m128d)c.life;
    _mm_storeu_pd(q, _mm_shuffle_pd(x, y, 0b00));
    _mm_storeu_pd(q + 2, _mm_shuffle_pd(vx, vy, 0b00));
    _mm_storeu_pd(q + 4, _mm_shuffle_pd(life, x, 0b10));
    _mm_storeu_pd(q + 6, _mm_shuffle_pd(y, vx, 0b11));
    _mm_storeu_pd(q + 8, _mm_shuffle_pd(vy, life, 0b11));
}
// SSE2 has no 64-bit integer compare: compare the four 32-bit halves with v,
// then copy each record's low half's result (lanes 0 and 2, where life sits on
// a little-endian machine) over its high half, so the padding never counts.
inline void life_is(d2 &r, const d2 &word, int v) {
    const __m128i same = _mm_cmpeq_epi32((__m128i)word, _mm_set1_epi32(v));
    r = (d2)_mm_shuffle_epi32(same, _MM_SHUFFLE(2, 2, 0, 0));
}
inline void root(d2 &v) { v = (d2)_mm_sqrt_pd((__m128d)v); }
inline void lt(d2 &r, const d2 &a, const d2 &b) { r = (d2)_mm_cmplt_pd((__m128d)a, (__m128d)b); }
inline void gt(d2 &r, const d2 &a, const d2 &b) { r = (d2)_mm_cmpgt_pd((__m128d)a, (__m128d)b); }
inline void eq(d2 &r, const d2 &a, const d2 &b) { r = (d2)_mm_cmpeq_pd((__m128d)a, (__m128d)b); }
inline void pick(d2 &r, const d2 &k, const d2 &x, const d2 &y) {
    r = (d2)_mm_or_pd(_mm_and_pd((__m128d)k, (__m128d)x), _mm_andnot_pd((__m128d)k, (__m128d)y));
}
inline unsigned bits(const d2 &k) { return _mm_movemask_pd((__m128d)k); }
// Buffer index row * width + column of each lane's particle, restating
// psys_paint_cell with the callers' arithmetic; PSYS_NO_CELL for the lanes in skip.
inline void cells(const d2 &column, const d2 &row, int width, unsigned skip, int *out) {
    for (int l = 0; l < 2; ++l) out[l] = static_cast<int>(row[l]) * width + static_cast<int>(column[l]);
    for (; skip != 0; skip &= skip - 1) out[__builtin_ctz(skip)] = PSYS_NO_CELL;
}

}  // namespace
