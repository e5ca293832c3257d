// Eight lanes in AVX-512 (F, DQ, VL and BW).
#pragma once

#include <immintrin.h>

#include <cstring>

#include "particles/fast/lane-types.h"
#include "particles/psys-paint.h"
#include "particles/psys2d.h"

#define AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))

namespace {

// Register i holds words 4i .. 4i + 3 of the first four records in its low
// half and of the next four in its high half, so the blends and rotations of
// the four lanes (lanes-avx2.h) work on both halves at once; a comparison
// gives a mask register.
AVX512 inline __m512d diagonal(__m512d a, __m512d b, __m512d c, __m512d d) {
    return _mm512_mask_blend_pd(0xcc, _mm512_mask_blend_pd(0x22, a, b), _mm512_mask_blend_pd(0x88, c, d));
}
AVX512 inline __m512d rotate(__m512d v, int lanes) {
    switch (lanes) {
    case 1: return _mm512_mask_permutex_pd(v, 0xff, v, 0b00111001);
    case 2: return _mm512_mask_permutex_pd(v, 0xff, v, 0b01001110);
    default: return _mm512_mask_permutex_pd(v, 0xff, v, 0b10010011);
    }
}
AVX512 inline void load_lanes(const particle *p, chunk<d8> &c) {
    const double *q = reinterpret_cast<const double *>(p);
    __m512d r[5];
    // Unrolled, the five registers stay in registers instead of going through
    // the stack.
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        const __m512d lo = _mm512_castpd256_pd512(_mm256_loadu_pd(q + 4 * i));
        r[i] = _mm512_mask_insertf64x4(lo, 0xff, lo, _mm256_loadu_pd(q + 20 + 4 * i), 1);
    }
    c.x = (d8)diagonal(r[0], r[1], r[2], r[3]);
    c.y = (d8)rotate(diagonal(r[4], r[0], r[1], r[2]), 1);
    c.vx = (d8)rotate(diagonal(r[3], r[4], r[0], r[1]), 2);
    c.vy = (d8)rotate(diagonal(r[2], r[3], r[4], r[0]), 3);
    c.life = (d8)diagonal(r[1], r[2], r[3], r[4]);
}
AVX512 inline void store_lanes(particle *p, const chunk<d8> &c) {
    double *q = reinterpret_cast<double *>(p);
    const __m512d x = (__m512d)c.x, y = rotate((__m512d)c.y, 3), vx = rotate((__m512d)c.vx, 2);
    const __m512d vy = rotate((__m512d)c.vy, 1), life = (__m512d)c.life;
    const d8 r[5] = {(d8)diagonal(x, y, vx, vy), (d8)diagonal(life, x, y, vx), (d8)diagonal(vy, life, x, y),
                     (d8)diagonal(vx, vy, life, x), (d8)diagonal(y, vx, vy, life)};
#pragma GCC unroll 5
    for (int i = 0; i < 5; ++i) {
        const d4 lo = __builtin_shufflevector(r[i], r[i], 0, 1, 2, 3),
                 hi = __builtin_shufflevector(r[i], r[i], 4, 5, 6, 7);
        memcpy(q + 4 * i, &lo, sizeof lo);
        memcpy(q + 20 + 4 * i, &hi, sizeof hi);
    }
}
AVX512 inline void life_is(__mmask8 &r, const d8 &word, int v) {
    const lanes<8>::m low = (lanes<8>::m)word << 32;
    r = _mm512_cmpeq_epi64_mask((__m512i)low, _mm512_set1_epi64(life_word(v)));
}
AVX512 inline void root(d8 &v) { v = (d8)_mm512_mask_sqrt_pd((__m512d)v, (__mmask8)0xff, (__m512d)v); }
AVX512 inline void fused_add(d8 &out, const d8 &q, const d8 &r, const d8 &y) {
    out = (d8)_mm512_fmadd_pd((__m512d)r, (__m512d)y, (__m512d)q);
}
AVX512 inline void fused_sub(d8 &out, const d8 &a, const d8 &q, const d8 &b) {
    out = (d8)_mm512_fnmadd_pd((__m512d)q, (__m512d)b, (__m512d)a);
}
AVX512 inline void lt(__mmask8 &r, const d8 &a, const d8 &b) {
    r = _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_LT_OQ);
}
AVX512 inline void gt(__mmask8 &r, const d8 &a, const d8 &b) {
    r = _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_GT_OQ);
}
AVX512 inline void eq(__mmask8 &r, const d8 &a, const d8 &b) {
    r = _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_EQ_OQ);
}
AVX512 inline void pick(d8 &r, __mmask8 k, const d8 &x, const d8 &y) {
    r = (d8)_mm512_mask_blend_pd(k, (__m512d)y, (__m512d)x);
}
AVX512 inline unsigned bits(__mmask8 k) { return k; }
// As the four-lane cells, into eight indices that start on a 32-byte
// boundary, with a streaming store: the indices then stay out of the caches
// the painting wants for the buffer.
AVX512 inline void cells(const d8 &column, const d8 &row, int width, unsigned skip, int *out) {
    typedef int i8 __attribute__((vector_size(32)));
    const i8 cell = __builtin_convertvector(row, i8) * width + __builtin_convertvector(column, i8);
    __m256i kept = (__m256i)cell;
    // Lanes to skip are rare; blending only then keeps the common path short.
    if (__builtin_expect(skip != 0, 0))
        kept = _mm256_mask_mov_epi32(kept, static_cast<__mmask8>(skip), _mm256_set1_epi32(PSYS_NO_CELL));
    _mm256_stream_si256((__m256i *)out, kept);
}

}  // namespace
