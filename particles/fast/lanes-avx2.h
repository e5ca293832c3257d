// Four lanes in AVX2 with FMA.
#pragma once

#include <immintrin.h>

#include "particles/fast/lane-types.h"
#include "particles/psys-paint.h"
#include "particles/psys2d.h"

#define AVX2 __attribute__((target("avx2,fma")))

namespace {

// Four records are five registers in which word f of particle j sits in lane
// (j + f) mod 4, so each field is three blends and a rotation.
// diagonal: lane 0 of a, lane 1 of b, lane 2 of c, lane 3 of d.
AVX2 inline __m256d diagonal(__m256d a, __m256d b, __m256d c, __m256d d) {
    return _mm256_blend_pd(_mm256_blend_pd(a, b, 0b0010), _mm256_blend_pd(c, d, 0b1000), 0b1100);
}
AVX2 inline void load_lanes(const particle *p, chunk<d4> &c) {
    const double *q = reinterpret_cast<const double *>(p);
    const __m256d r0 = _mm256_loadu_pd(q), r1 = _mm256_loadu_pd(q + 4), r2 = _mm256_loadu_pd(q + 8);
    const __m256d r3 = _mm256_loadu_pd(q + 12), r4 = _mm256_loadu_pd(q + 16);
    c.x = (d4)diagonal(r0, r1, r2, r3);
    c.y = (d4)_mm256_permute4x64_pd(diagonal(r4, r0, r1, r2), 0b00111001);
    c.vx = (d4)_mm256_permute4x64_pd(diagonal(r3, r4, r0, r1), 0b01001110);
    c.vy = (d4)_mm256_permute4x64_pd(diagonal(r2, r3, r4, r0), 0b10010011);
    c.life = (d4)diagonal(r1, r2, r3, r4);
}
AVX2 inline void store_lanes(particle *p, const chunk<d4> &c) {
    double *q = reinterpret_cast<double *>(p);
    const __m256d x = (__m256d)c.x, y = _mm256_permute4x64_pd((__m256d)c.y, 0b10010011);
    const __m256d vx = _mm256_permute4x64_pd((__m256d)c.vx, 0b01001110);
    const __m256d vy = _mm256_permute4x64_pd((__m256d)c.vy, 0b00111001), life = (__m256d)c.life;
    _mm256_storeu_pd(q, diagonal(x, y, vx, vy));
    _mm256_storeu_pd(q + 4, diagonal(life, x, y, vx));
    _mm256_storeu_pd(q + 8, diagonal(vy, life, x, y));
    _mm256_storeu_pd(q + 12, diagonal(vx, vy, life, x));
    _mm256_storeu_pd(q + 16, diagonal(y, vx, vy, life));
}
// Lanes whose life (the low half of the record's fifth word) equals v.
AVX2 inline void life_is(d4 &r, const d4 &word, int v) {
    const lanes<4>::m low = (lanes<4>::m)word << 32;
    r = (d4)_mm256_cmpeq_epi64((__m256i)low, _mm256_set1_epi64x(life_word(v)));
}
AVX2 inline void root(d4 &v) { v = (d4)_mm256_sqrt_pd((__m256d)v); }
// q + r * y and a - q * b, each rounded once.
AVX2 inline void fused_add(d4 &out, const d4 &q, const d4 &r, const d4 &y) {
    out = (d4)_mm256_fmadd_pd((__m256d)r, (__m256d)y, (__m256d)q);
}
AVX2 inline void fused_sub(d4 &out, const d4 &a, const d4 &q, const d4 &b) {
    out = (d4)_mm256_fnmadd_pd((__m256d)q, (__m256d)b, (__m256d)a);
}
AVX2 inline void lt(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_LT_OQ); }
AVX2 inline void gt(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_GT_OQ); }
AVX2 inline void eq(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_EQ_OQ); }
AVX2 inline void pick(d4 &r, const d4 &k, const d4 &x, const d4 &y) {
    r = (d4)_mm256_blendv_pd((__m256d)y, (__m256d)x, (__m256d)k);
}
AVX2 inline unsigned bits(const d4 &k) { return _mm256_movemask_pd((__m256d)k); }
// Buffer index row * width + column of each lane's particle, from its column
// and row as doubles; with the callers' arithmetic it restates psys_paint_cell.
// Lanes set in `skip` get PSYS_NO_CELL instead.
AVX2 inline void cells(const d4 &column, const d4 &row, int width, unsigned skip, int *out) {
    const __m128i c = _mm256_cvttpd_epi32((__m256d)column), r = _mm256_cvttpd_epi32((__m256d)row);
    _mm_storeu_si128((__m128i *)out, _mm_add_epi32(_mm_mullo_epi32(r, _mm_set1_epi32(width)), c));
    for (; skip != 0; skip &= skip - 1) out[__builtin_ctz(skip)] = PSYS_NO_CELL;
}

}  // namespace
