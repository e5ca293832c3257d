// The fast step's vector lanes: W doubles per register, and the few
// operations the sweep needs on them, written once per instruction set.
// Included by particles/psys-fast.cpp and its tests only.
#pragma once

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

#include <bit>
#include <cmath>
#include <cstring>

#include "particles/psys-paint.h"
#include "particles/psys-rules.h"
#include "particles/psys2d.h"

// The shared template code takes and returns vectors wider than the baseline
// ABI knows; optimised builds inline all of it into code built for the width,
// and the per-instruction-set functions pass their results by reference.
#pragma GCC diagnostic ignored "-Wpsabi"

// Internal linkage, as a part of psys-fast.cpp: the per-instruction-set
// functions are then inlined into the flattened sweeps.
namespace {

// W doubles per register. Arithmetic is written with the
// compiler's vector extensions; everything else goes through the small
// functions below, one set per instruction set, because the compiler builds
// comparisons and shuffles well only inside code for their own instruction set.
// x86-64 has sets of eight, four and two lanes in its own intrinsics; other
// processors have one set of two lanes in the vector extensions, which aarch64
// takes with NEON's square root.

// A life as the high half of a 64-bit word, to compare with a fifth word
// shifted up by 32 bits.
constexpr long long life_word(int v) {
    return static_cast<long long>(static_cast<unsigned long long>(static_cast<unsigned>(v)) << 32);
}

template <int W>
struct lanes {
    typedef double d __attribute__((vector_size(8 * W)));
    typedef long long m __attribute__((vector_size(8 * W)));
};
using d8 = lanes<8>::d;
using d4 = lanes<4>::d;
using d2 = lanes<2>::d;

// W consecutive particles, one register per word of the record; life holds
// the fifth word's bits.
template <class D>
struct chunk {
    D x, y, vx, vy, life;
};

#if defined(__x86_64__)
#define AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#define AVX2 __attribute__((target("avx2,fma")))

// Four lanes. Four records are five registers in which word f of particle j
// sits in lane (j + f) mod 4, so each field is three blends and a rotation.
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
// One bit per lane whose (x, y) lies outside the starfield's inner box
// (STAR_RIM_LO, STAR_RIM_HI) in either coordinate, bounds excluded; restates
// the test in psys_frc_stf.
AVX2 inline unsigned outside_box(const d4 &x, const d4 &y) {
    const d4 lo = d4{} + STAR_RIM_LO, hi = d4{} + STAR_RIM_HI;
    d4 a, b, c, e;
    gt(a, x, hi), lt(b, x, lo), gt(c, y, hi), lt(e, y, lo);
    return bits(a) | bits(b) | bits(c) | bits(e);
}

// Eight lanes: register i holds words 4i .. 4i + 3 of the first four records
// in its low half and of the next four in its high half, so the four-lane
// blends and rotations work on both halves at once; a comparison gives a mask
// register.
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
    // the stack (measured: every frame 0.4-0.9 ms quicker on two threads).
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
AVX512 inline void cells(const d8 &column, const d8 &row, int width, unsigned skip, int *out) {
    typedef int i8 __attribute__((vector_size(32)));
    const i8 cell = __builtin_convertvector(row, i8) * width + __builtin_convertvector(column, i8);
    __m256i kept = (__m256i)cell;
    // Lanes to skip are rare; blending only then keeps the common path short
    // (measured: blending every chunk made the whole frame 3% slower).
    if (__builtin_expect(skip != 0, 0))
        kept = _mm256_mask_mov_epi32(kept, static_cast<__mmask8>(skip), _mm256_set1_epi32(PSYS_NO_CELL));
    _mm256_stream_si256((__m256i *)out, kept);
}
AVX512 inline unsigned outside_box(const d8 &x, const d8 &y) {
    const d8 lo = d8{} + STAR_RIM_LO, hi = d8{} + STAR_RIM_HI;
    __mmask8 a, b, c, e;
    gt(a, x, hi), lt(b, x, lo), gt(c, y, hi), lt(e, y, lo);
    return bits(a) | bits(b) | bits(c) | bits(e);
}

// Two lanes: two records are five registers of two words each.
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
#else
// Two lanes in the vector extensions: a comparison gives each lane all ones
// or all zeros, and a choice between two vectors is bitwise.
using m2 = lanes<2>::m;
inline void load_lanes(const particle *p, chunk<d2> &c) {
    d2 r[5];
    memcpy(r, p, sizeof r);
    c.x = __builtin_shufflevector(r[0], r[2], 0, 3);
    c.y = __builtin_shufflevector(r[0], r[3], 1, 2);
    c.vx = __builtin_shufflevector(r[1], r[3], 0, 3);
    c.vy = __builtin_shufflevector(r[1], r[4], 1, 2);
    c.life = __builtin_shufflevector(r[2], r[4], 0, 3);
}
inline void store_lanes(particle *p, const chunk<d2> &c) {
    const d2 r[5] = {__builtin_shufflevector(c.x, c.y, 0, 2), __builtin_shufflevector(c.vx, c.vy, 0, 2),
                     __builtin_shufflevector(c.life, c.x, 0, 3), __builtin_shufflevector(c.y, c.vx, 1, 3),
                     __builtin_shufflevector(c.vy, c.life, 1, 3)};
    memcpy(p, r, sizeof r);
}
inline void life_is(d2 &r, const d2 &word, int v) { r = (d2)(((m2)word << 32) == m2{} + life_word(v)); }
inline void root(d2 &v) {
#if defined(__aarch64__)
    v = (d2)vsqrtq_f64((float64x2_t)v);
#else
    for (int l = 0; l < 2; ++l) v[l] = std::sqrt(v[l]);
#endif
}
#if defined(__aarch64__)
inline void fused_add(d2 &out, const d2 &q, const d2 &r, const d2 &y) {
    out = (d2)vfmaq_f64((float64x2_t)q, (float64x2_t)r, (float64x2_t)y);
}
inline void fused_sub(d2 &out, const d2 &a, const d2 &q, const d2 &b) {
    out = (d2)vfmsq_f64((float64x2_t)a, (float64x2_t)q, (float64x2_t)b);
}
#endif
inline void lt(d2 &r, const d2 &a, const d2 &b) { r = (d2)(a < b); }
inline void gt(d2 &r, const d2 &a, const d2 &b) { r = (d2)(a > b); }
inline void eq(d2 &r, const d2 &a, const d2 &b) { r = (d2)(a == b); }
inline void pick(d2 &r, const d2 &k, const d2 &x, const d2 &y) {
    r = (d2)(((m2)k & (m2)x) | (~(m2)k & (m2)y));
}
inline unsigned bits(const d2 &k) {
    const m2 lane = (m2)k;
    return static_cast<unsigned>(lane[0] & 1) | static_cast<unsigned>(lane[1] & 2);
}
#endif
inline void cells(const d2 &column, const d2 &row, int width, unsigned skip, int *out) {
    for (int l = 0; l < 2; ++l) out[l] = static_cast<int>(row[l]) * width + static_cast<int>(column[l]);
    for (; skip != 0; skip &= skip - 1) out[__builtin_ctz(skip)] = PSYS_NO_CELL;
}
inline unsigned outside_box(const d2 &x, const d2 &y) {
    const d2 lo = d2{} + STAR_RIM_LO, hi = d2{} + STAR_RIM_HI;
    d2 a, b, c, e;
    gt(a, x, hi), lt(b, x, lo), gt(c, y, hi), lt(e, y, lo);
    return bits(a) | bits(b) | bits(c) | bits(e);
}

// The functions above hand their vector results back through a reference:
// code built without AVX passes and returns wide vectors differently from
// code built with it, which matters where the compiler does not inline
// (unoptimised builds). These wrappers give them the usual form.
template <class D>
struct mask_of {
    using type = D;
};
#if defined(__x86_64__)
template <>
struct mask_of<d8> {
    using type = __mmask8;
};
#endif
template <class D>
using mask_t = typename mask_of<D>::type;

// Whether the lanes have fused_add and fused_sub.
template <class D>
constexpr bool FUSED = false;
#if defined(__x86_64__)
template <>
constexpr bool FUSED<d8> = true;
template <>
constexpr bool FUSED<d4> = true;
#elif defined(__aarch64__)
template <>
constexpr bool FUSED<d2> = true;
#endif

template <class D>
[[gnu::always_inline]] inline mask_t<D> lt(const D &a, const D &b) {
    mask_t<D> r;
    lt(r, a, b);
    return r;
}
template <class D>
[[gnu::always_inline]] inline mask_t<D> gt(const D &a, const D &b) {
    mask_t<D> r;
    gt(r, a, b);
    return r;
}
template <class D>
[[gnu::always_inline]] inline mask_t<D> eq(const D &a, const D &b) {
    mask_t<D> r;
    eq(r, a, b);
    return r;
}
template <class D>
[[gnu::always_inline]] inline D pick(const mask_t<D> &k, const D &x, const D &y) {
    D r;
    pick(r, k, x, y);
    return r;
}
template <class D>
[[gnu::always_inline]] inline mask_t<D> life_is(const D &word, int v) {
    mask_t<D> r;
    life_is(r, word, v);
    return r;
}

// Speed normalisation, restating normalise_scaled in psys2d.cpp:
// s = sqrt(vx * vx + vy * vy) * scale; if s > 0, both components are divided by s.
template <class D>
[[gnu::always_inline]] inline void normalise(D &vx, D &vy, const D &scale) {
    D s = vx * vx + vy * vy;
    root(s);
    s = s * scale;
    const auto positive = gt(s, D{});
    vx = pick(positive, vx / s, vx);
    vy = pick(positive, vy / s, vy);
}

// Division by a divisor fixed for the whole step, in lanes without a
// division where the processor has fused multiply-add (every instruction set
// here but SSE2). With inv = 1 / b rounded to nearest, q0 = a * inv lies
// within two units in the last place (ulps) of a / b; the remainder
// a - q0 * b is then exact, and q0 + remainder * inv, rounded once, differs
// from a / b by at most q0's error times |b * inv - 1| <= 2^-53, i.e. by less
// than 2^-51 ulp. When the odd part B of b's significand is below 2^40, a
// normal quotient a / b never lies on, and never within 1 / (2B) ulp of, a
// point halfway between two doubles (its distance is an integer over 2B
// ulp), so that sum rounds to exactly the double a division gives.
// Bounds keep every step of this away from underflow and overflow: b within
// [2^-100, 2^100] (checked once, by divides_by_product), and a, which the
// caller vouches for, either +0 (giving +0, as a division does) or within
// 2^-700 < |a| < 2^700. Outside those, a zero of either sign, a subnormal or
// NaN, the result may differ from a division.
constexpr bool divides_by_product(double b) {
    const auto bits = std::bit_cast<unsigned long long>(b);
    const int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
    if (exponent < -100 || exponent > 100) return false;
    const unsigned long long significand = (bits & ((1ULL << 52) - 1)) | (1ULL << 52);
    return (significand >> __builtin_ctzll(significand)) < (1ULL << 40);
}

template <class D>
struct divisor {
    D b, inv;
    bool by_product;  // divides_by_product(b), and the lanes have fused operations
    explicit divisor(double v) : b(D{} + v), inv(D{} + 1.0 / v), by_product(FUSED<D> && divides_by_product(v)) {}
};

template <class D>
[[gnu::always_inline]] inline D divide(const D &a, const divisor<D> &dv) {
    if constexpr (FUSED<D>) {
        if (dv.by_product) {
            const D q0 = a * dv.inv;
            D r, q;
            fused_sub(r, a, q0, dv.b);
            fused_add(q, q0, r, dv.inv);
            return q;
        }
    }
    return a / dv.b;
}

}  // namespace
