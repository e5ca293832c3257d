// The per-frame step as one backward sweep over the particle array.
//
// Under the five laws a particle's velocity is changed only by the two pairs
// it belongs to, and both pairs read its position before it moves. So right
// after the pair (i - 1, i) particle i can be aged, damped, normalised, moved
// and bounced. The sweep works on the array block by block from the top down,
// a SIMD register of particles at a time, with the records turned into one
// register per field on loading and back on storing; every value is formed by
// the same operations in the same order as in the literal step, so the result
// is the same to the bit. Each particle's buffer index is kept, and the
// painting follows the sweep.
//
// The generators: starfield re-placements draw random() in descending order
// of the pair during the sweep, and all of them come before the respawns of
// the motion step, which are therefore deferred to the end of the sweep and
// done in descending order of index.
#include "particles/psys-fast.h"

#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__aarch64__)
#include <arm_neon.h>
#endif

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

// The shared template code takes and returns vectors wider than the baseline
// ABI knows; optimised builds inline all of it into code built for the width,
// and the per-instruction-set functions pass their results by reference.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

enum class law { gra, ang, oth, spr, stf };

// The registers hold a particle record as five 8-byte words: x, y, vx, vy and
// a word whose low half is life (the high half is padding, kept as read).
static_assert(sizeof(particle) == 40 && offsetof(particle, y) == 8 && offsetof(particle, vx) == 16 &&
                  offsetof(particle, vy) == 24 && offsetof(particle, life) == 32,
              "particle records are five 8-byte words");

// Particles per block: a block's columns stay in the first-level cache.
constexpr int BLOCK = 256;
// Deferred respawns whose indices are kept; past that, the end of the sweep
// finds them by their life of -1, which no other particle can have then.
constexpr int PENDING_CAP = 4096;

constexpr double RANDOM_SCALE = 2147483647.0;

// What the step reads from the system and the control variables, fixed for
// the whole step.
struct step_params {
    psys *system;
    particle *particles;
    int count;
    double scale;  // 25000.0 / maxspeed: the quotient every normalisation uses
    double k1;     // value of slot 1, for the laws that read it
    double k2;     // value of slot 2, for the spring law
    int damping_on, pull_on, gravity_on;
    double damping, pull_x, pull_y, gravity_x, gravity_y;
};

// The intensity buffer, or no buffer when the step does not paint.
struct canvas {
    unsigned char *buffer;
    int width;
    double wspan;  // width - 3, as a double
    double hspan;  // height - 3, as a double
    unsigned brightness;
    int *cells;  // room for every particle's buffer index
};

// The buffer index of every particle in one frame, kept from frame to frame
// so that the step allocates only when the count grows. Element `count` lies
// on a 32-byte boundary, and so does every element a whole chunk of eight
// starts at (those lie a multiple of eight below it): the eight-lane sweep
// writes them with streaming stores, which need that and keep the indices
// out of the caches the painting wants for the buffer.
int *frame_cells(int count) {
    static std::vector<int> cells;
    if (cells.size() < static_cast<size_t>(count) + 8) cells.resize(static_cast<size_t>(count) + 8);
    int *p = cells.data();
    while (reinterpret_cast<uintptr_t>(p + count) % 32 != 0) ++p;
    return p;
}

inline int paint_index(const canvas &cv, double x, double y) {
    const int column = static_cast<int>(cv.wspan * x + 1.0);
    const int row = static_cast<int>(cv.hspan * y + 2.0);
    return row * cv.width + column;
}

// The motion step from damping on, for a particle just respawned.
void finish_motion(particle *p, const step_params &sp) {
    double vx = p->vx, vy = p->vy;
    if (sp.damping_on) {
        vx = sp.damping * vx;
        vy = sp.damping * vy;
    }
    if (sp.pull_on) {
        vx = p->x < 0.5 ? vx + sp.pull_x : vx - sp.pull_x;
        vy = p->y < 0.5 ? vy + sp.pull_y : vy - sp.pull_y;
    }
    const double s = std::sqrt(vx * vx + vy * vy) * sp.scale;
    if (s > 0) {
        vx = vx / s;
        vy = vy / s;
    }
    if (sp.gravity_on) {
        vy = vy + sp.gravity_y;
        vx = vx + sp.gravity_x;
    }
    double x = p->x + vx, y = p->y + vy;
    if (x > 1) {
        x = 1;
        vx = -std::fabs(vx);
    } else if (x < 0) {
        x = 0;
        vx = std::fabs(vx);
    }
    if (y > 1) {
        y = 1;
        vy = -std::fabs(vy);
    } else if (y < 0) {
        y = 0;
        vy = std::fabs(vy);
    }
    p->x = x;
    p->y = y;
    p->vx = vx;
    p->vy = vy;
}

// ---------------------------------------------------------------------------
// SIMD lanes: W doubles per register. Arithmetic is written with the
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
#define AVX2 __attribute__((target("avx2")))

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
AVX2 inline void lt(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_LT_OQ); }
AVX2 inline void gt(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_GT_OQ); }
AVX2 inline void eq(d4 &r, const d4 &a, const d4 &b) { r = (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_EQ_OQ); }
AVX2 inline void pick(d4 &r, const d4 &k, const d4 &x, const d4 &y) {
    r = (d4)_mm256_blendv_pd((__m256d)y, (__m256d)x, (__m256d)k);
}
AVX2 inline unsigned bits(const d4 &k) { return _mm256_movemask_pd((__m256d)k); }
// Buffer index row * width + column of each lane's particle, as paint_index.
AVX2 inline void cells(const d4 &column, const d4 &row, int width, int *out) {
    const __m128i c = _mm256_cvttpd_epi32((__m256d)column), r = _mm256_cvttpd_epi32((__m256d)row);
    _mm_storeu_si128((__m128i *)out, _mm_add_epi32(_mm_mullo_epi32(r, _mm_set1_epi32(width)), c));
}
// One bit per lane whose (x, y) lies outside the starfield's inner box
// (0.0001, 0.9999) in either coordinate, bounds excluded.
AVX2 inline unsigned outside_box(const d4 &x, const d4 &y) {
    const d4 lo = d4{} + 0.0001, hi = d4{} + 0.9999;
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
AVX512 inline void cells(const d8 &column, const d8 &row, int width, int *out) {
    typedef int i8 __attribute__((vector_size(32)));
    const i8 cell = __builtin_convertvector(row, i8) * width + __builtin_convertvector(column, i8);
    _mm256_stream_si256((__m256i *)out, (__m256i)cell);
}
AVX512 inline unsigned outside_box(const d8 &x, const d8 &y) {
    const d8 lo = d8{} + 0.0001, hi = d8{} + 0.9999;
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
inline void cells(const d2 &column, const d2 &row, int width, int *out) {
    for (int l = 0; l < 2; ++l) out[l] = static_cast<int>(row[l]) * width + static_cast<int>(column[l]);
}
inline unsigned outside_box(const d2 &x, const d2 &y) {
    const d2 lo = d2{} + 0.0001, hi = d2{} + 0.9999;
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

// Speed normalisation: s = sqrt(vx * vx + vy * vy) * scale; if s > 0, both
// components are divided by s.
template <class D>
[[gnu::always_inline]] inline void normalise(D &vx, D &vy, const D &scale) {
    D s = vx * vx + vy * vy;
    root(s);
    s = s * scale;
    const auto positive = gt(s, D{});
    vx = pick(positive, vx / s, vx);
    vy = pick(positive, vy / s, vy);
}

template <int W, law L>
struct kernel {
    using d = typename lanes<W>::d;
    using m = typename lanes<W>::m;
    using lanes_t = chunk<d>;

    static constexpr long long SIGN = static_cast<long long>(0x8000000000000000ULL);
    static constexpr long long LOW = 0xffffffffLL;

    [[gnu::always_inline]] static d splat(double v) { return d{} + v; }
    [[gnu::always_inline]] static d abs(const d &v) { return (d)((m)v & ~SIGN); }
    [[gnu::always_inline]] static d negabs(const d &v) { return (d)((m)v | SIGN); }

    // The step's numbers, one per lane.
    struct constants {
        d zero, half, one, tiny, scale, k1, k2, damping, pull_x, pull_y, gravity_x, gravity_y, top, wspan, hspan;
        d iota;
        constants(const step_params &sp, const canvas &cv)
            : zero{},
              half(splat(0.5)),
              one(splat(1.0)),
              tiny(splat(1e-06)),
              scale(splat(sp.scale)),
              k1(splat(sp.k1)),
              k2(splat(sp.k2)),
              damping(splat(sp.damping)),
              pull_x(splat(sp.pull_x)),
              pull_y(splat(sp.pull_y)),
              gravity_x(splat(sp.gravity_x)),
              gravity_y(splat(sp.gravity_y)),
              top(splat(sp.count - 1.0)),
              wspan(splat(cv.wspan)),
              hspan(splat(cv.hspan)),
              iota{} {
            for (int l = 0; l < W; ++l) iota[l] = l;
        }
    };

    // What a pair passes on to its two particles.
    struct terms {
        d c0, c1, c2;
    };

    // The chunk of W particles from index j up; lanes below index 0 hold a
    // resting particle at the origin, which the caller never stores.
    static lanes_t load(const particle *ps, int j) {
        lanes_t c;
        if (j >= 0) {
            load_lanes(ps + j, c);
        } else {
            c = lanes_t{};
            for (int l = -j; l < W; ++l) {
                const particle &p = ps[j + l];
                c.x[l] = p.x;
                c.y[l] = p.y;
                c.vx[l] = p.vx;
                c.vy[l] = p.vy;
                memcpy(reinterpret_cast<char *>(&c.life) + 8 * l, &p.life, 8);
            }
        }
        return c;
    }

    static void store(particle *ps, int j, const lanes_t &c) {
        if (j >= 0) {
            store_lanes(ps + j, c);
            return;
        }
        for (int l = -j; l < W; ++l) {
            particle &p = ps[j + l];
            p.x = c.x[l];
            p.y = c.y[l];
            p.vx = c.vx[l];
            p.vy = c.vy[l];
            memcpy(&p.life, reinterpret_cast<const char *>(&c.life) + 8 * l, sizeof p.life);
        }
    }

    // Lane l: the pair (j - 1 + l, j + l), a from `a`, b from `b`.
    static terms pair_terms(const lanes_t &a, const lanes_t &b, const constants &k) {
        terms t{};
        if constexpr (L == law::gra) {
            const d dx = a.x - b.x, dy = a.y - b.y;
            const d f = 4.0 / (dx * dx - dy * dy);
            t.c0 = dy / f;
            t.c1 = dx / f;
        } else if constexpr (L == law::ang) {
            t.c0 = a.vy / k.k1;
            t.c1 = a.vx / k.k1;
            t.c2 = (b.x - a.x) * t.c0 - (b.y - a.y) * t.c1;
        } else if constexpr (L == law::oth) {
            const d dx = b.x - a.x, dy = b.y - a.y;
            t.c0 = pick(eq(dx, k.zero), k.one, dx);
            t.c1 = pick(eq(dy, k.zero), k.one, dy);
        } else if constexpr (L == law::spr) {
            const d dx = a.x - b.x, dy = a.y - b.y;
            d dist = dx * dx + dy * dy;
            root(dist);
            const d e = (dist - k.k2) * k.k1;
            const d ef = pick(life_is(a.life, FIXED_LIFE), e * 0.125, e);
            t.c0 = dx * ef;
            t.c1 = dy * ef;
            t.c2 = dist;
        }
        return t;
    }

    // Starfield: lanes that are a of a pair (index 0 .. count - 2) and have
    // left the inner box are put back near the centre, highest index first.
    static void replace(double *x, double *y, int j, int n) {
        const int first = j < 0 ? -j : 0, last = n - 2 - j < W - 1 ? n - 2 - j : W - 1;
        if (first > last) return;
        d vx, vy;
        memcpy(&vx, x, sizeof vx);
        memcpy(&vy, y, sizeof vy);
        unsigned out = outside_box(vx, vy) & ((2u << last) - (1u << first));
        while (out != 0) {
            const int lane = 31 - __builtin_clz(out);
            out &= ~(1u << lane);
            x[lane] = random() / RANDOM_SCALE / 10000.0 + 0.4995;
            y[lane] = random() / RANDOM_SCALE / 10000.0 + 0.4995;
        }
    }

    // The law's changes to particles j .. j + W - 1: as a of their pair with
    // the particle above (terms `as_a`), then as b of their pair with the
    // particle below (terms `as_b`).
    static void apply_law(lanes_t &c, const terms &as_a, const terms &as_b, const d &index, const constants &k) {
        const auto has_a = lt(index, k.top), has_b = gt(index, k.zero);
        d &vx = c.vx, &vy = c.vy;
        if constexpr (L == law::gra) {
            vx = pick(has_a, vx - as_a.c0, vx);
            vy = pick(has_a, vy - as_a.c1, vy);
            vx = pick(has_b, vx - as_b.c0, vx);
            vy = pick(has_b, vy - as_b.c1, vy);
        } else if constexpr (L == law::ang) {
            {
                const auto turn = gt(as_a.c2, k.zero);
                d ax = pick(turn, vx + as_a.c0, vx - as_a.c0);
                d ay = pick(turn, vy - as_a.c1, vy + as_a.c1);
                normalise(ax, ay, k.scale);
                vx = pick(has_a, ax, vx);
                vy = pick(has_a, ay, vy);
            }
            {
                const auto turn = gt(as_b.c2, k.zero);
                d bx = pick(turn, vx - as_b.c0, vx + as_b.c0);
                d by = pick(turn, vy + as_b.c1, vy - as_b.c1);
                normalise(bx, by, k.scale);
                vx = pick(has_b, bx, vx);
                vy = pick(has_b, by, vy);
            }
        } else if constexpr (L == law::oth) {
            d speed = vx * vx + vy * vy;
            root(speed);
            vx = pick(has_a, as_a.c0 * k.k1 * speed + vx, vx);
            vy = pick(has_a, as_a.c1 * k.k1 * speed + vy, vy);
        } else if constexpr (L == law::spr) {
            {
                const auto near = lt(as_a.c2, k.tiny);
                d ax = vx - as_a.c0, ay = vy - as_a.c1;
                normalise(ax, ay, k.scale);
                vx = pick(has_a, pick(near, -vx, ax), vx);
                vy = pick(has_a, pick(near, vy, ay), vy);
            }
            {
                const auto near = lt(as_b.c2, k.tiny);
                vx = pick(has_b, pick(near, -vx, vx + as_b.c0), vx);
                vy = pick(has_b, pick(near, vy, vy + as_b.c1), vy);
            }
        } else if constexpr (L == law::stf) {
            d ax = vx + (c.x - 0.5) / 54232.0, ay = vy + (c.y - 0.5) / 54232.0;
            normalise(ax, ay, k.scale);
            vx = pick(has_a, ax, vx);
            vy = pick(has_a, ay, vy);
        }
    }

    // The motion step: ageing, damping, centre pull, normalisation, gravity,
    // move and walls. Fixed particles keep their place, life and the velocity
    // the law left them.
    static void move(lanes_t &c, const step_params &sp, const constants &k) {
        const auto fixed = life_is(c.life, FIXED_LIFE);
        const m word = (m)c.life;
        c.life = pick(fixed, c.life, (d)((word & ~LOW) | ((word - 1) & LOW)));

        d vx = c.vx, vy = c.vy;
        if (sp.damping_on) {
            vx = k.damping * vx;
            vy = k.damping * vy;
        }
        if (sp.pull_on) {
            vx = pick(lt(c.x, k.half), vx + k.pull_x, vx - k.pull_x);
            vy = pick(lt(c.y, k.half), vy + k.pull_y, vy - k.pull_y);
        }
        normalise(vx, vy, k.scale);
        if (sp.gravity_on) {
            vy = vy + k.gravity_y;
            vx = vx + k.gravity_x;
        }
        d x = c.x + vx, y = c.y + vy;
        const auto x_hi = gt(x, k.one), x_lo = lt(x, k.zero);
        vx = pick(x_hi, negabs(vx), pick(x_lo, abs(vx), vx));
        x = pick(x_hi, k.one, pick(x_lo, k.zero, x));
        const auto y_hi = gt(y, k.one), y_lo = lt(y, k.zero);
        vy = pick(y_hi, negabs(vy), pick(y_lo, abs(vy), vy));
        y = pick(y_hi, k.one, pick(y_lo, k.zero, y));

        c.x = pick(fixed, c.x, x);
        c.y = pick(fixed, c.y, y);
        c.vx = pick(fixed, c.vx, vx);
        c.vy = pick(fixed, c.vy, vy);
    }

    // One block of particles as columns: column c holds particle lo - W + c,
    // so particle lo - 1 (the a of the block's lowest pair) sits at W - 1,
    // the block at W .. W + m - 1 and particle hi at W + m. Pair column c
    // holds the terms of the pair (column c, column c + 1).
    struct columns {
        static constexpr int SIZE = BLOCK + 4 * W;
        alignas(64) double x[SIZE], y[SIZE], vx[SIZE], vy[SIZE], life[SIZE];
        alignas(64) double c0[SIZE], c1[SIZE], c2[SIZE];
        unsigned respawn[BLOCK / W + 1];  // per chunk: lanes whose life runs out now

        lanes_t get(int c) const {
            lanes_t v;
            memcpy(&v.x, x + c, sizeof(d));
            memcpy(&v.y, y + c, sizeof(d));
            memcpy(&v.vx, vx + c, sizeof(d));
            memcpy(&v.vy, vy + c, sizeof(d));
            memcpy(&v.life, life + c, sizeof(d));
            return v;
        }
        void put(int c, const lanes_t &v) {
            memcpy(x + c, &v.x, sizeof(d));
            memcpy(y + c, &v.y, sizeof(d));
            memcpy(vx + c, &v.vx, sizeof(d));
            memcpy(vy + c, &v.vy, sizeof(d));
            memcpy(life + c, &v.life, sizeof(d));
        }
        terms get_terms(int c) const {
            terms t;
            memcpy(&t.c0, c0 + c, sizeof(d));
            memcpy(&t.c1, c1 + c, sizeof(d));
            memcpy(&t.c2, c2 + c, sizeof(d));
            return t;
        }
        void put_terms(int c, const terms &t) {
            memcpy(c0 + c, &t.c0, sizeof(d));
            memcpy(c1 + c, &t.c1, sizeof(d));
            memcpy(c2 + c, &t.c2, sizeof(d));
        }
    };

    // Laws with square roots and divisions of their own get the motion step
    // in a loop apart (see the sweep).
    static constexpr bool SPLIT = L == law::ang || L == law::spr || L == law::stf;

    // The motion step for the chunk at column c (particles from j up), its
    // buffer indices and which of its lanes are to be respawned.
    [[gnu::always_inline]] static void finish(columns &col, int c, const lanes_t &chunk, int j, int first,
                                              const step_params &sp, const canvas &cv, const constants &k,
                                              int *cell_of) {
        lanes_t v = chunk;
        col.respawn[(c - first) / W] = bits(life_is(v.life, 0));
        move(v, sp, k);
        col.put(c, v);
        if (cell_of != nullptr) {
            if (j >= 0) {
                cells(k.wspan * v.x + 1.0, k.hspan * v.y + 2.0, cv.width, cell_of + j);
            } else {
                for (int l = -j; l < W; ++l) cell_of[j + l] = paint_index(cv, v.x[l], v.y[l]);
            }
        }
    }

    // The records a block below chunk j, fetched while this block is worked
    // on: a chunk's worth at a time, in the loop with the most work per chunk,
    // since a burst of fetches stalls until it is served.
    [[gnu::always_inline]] static void fetch_ahead(const particle *ps, int j) {
        if (j >= BLOCK)
            for (int b = 0; b < W * static_cast<int>(sizeof(particle)); b += 64)
                __builtin_prefetch(reinterpret_cast<const char *>(ps + j - BLOCK) + b);
    }

    static void sweep(const step_params &sp, const canvas &cv) {
        particle *const ps = sp.particles;
        const int n = sp.count;
        const constants k(sp, cv);
        columns col;
        int *const cell_of = cv.buffer != nullptr ? cv.cells : nullptr;
        int pending[PENDING_CAP];
        int pending_count = 0;
        bool pending_lost = false;
        double above_x = 0, above_y = 0;  // particle hi's position before it moved

        for (int hi = n; hi > 0;) {
            const int lo = hi > BLOCK ? hi - BLOCK : 0;
            const int m = hi - lo;
            // Chunks of W from hi down; the lowest may reach below index 0.
            const int bottom = hi - (m + W - 1) / W * W;
            const int first = bottom - lo + W;  // column of the lowest chunk

            for (int j = hi - W; j >= bottom; j -= W) {
                if (j >= 0) {
                    lanes_t v;
                    load_lanes(ps + j, v);
                    col.put(j - lo + W, v);
                } else {
                    col.put(j - lo + W, load(ps, j));
                }
            }

            if (lo > 0) {
                const lanes_t below = load(ps, lo - W);  // lane W - 1 is particle lo - 1
                memcpy(col.x + W - 1, reinterpret_cast<const double *>(&below.x) + W - 1, sizeof(double));
                memcpy(col.y + W - 1, reinterpret_cast<const double *>(&below.y) + W - 1, sizeof(double));
                memcpy(col.vx + W - 1, reinterpret_cast<const double *>(&below.vx) + W - 1, sizeof(double));
                memcpy(col.vy + W - 1, reinterpret_cast<const double *>(&below.vy) + W - 1, sizeof(double));
                memcpy(col.life + W - 1, reinterpret_cast<const double *>(&below.life) + W - 1, sizeof(double));
            } else if (first == W) {
                col.x[W - 1] = col.y[W - 1] = col.vx[W - 1] = col.vy[W - 1] = col.life[W - 1] = 0;
            }
            for (int c = W + m; c < W + m + 2 * W; ++c) col.x[c] = col.y[c] = col.vx[c] = col.vy[c] = col.life[c] = 0;
            col.x[W + m] = above_x;
            col.y[W + m] = above_y;
            above_x = col.x[W];
            above_y = col.y[W];

            if constexpr (L == law::stf) {
                for (int j = hi - W; j >= bottom; j -= W) replace(col.x + j - lo + W, col.y + j - lo + W, j, n);
            } else {
                for (int c = first - 1; c < W + m; c += W) col.put_terms(c, pair_terms(col.get(c), col.get(c + 1), k));
            }

            for (int c = first; c < W + m; c += W) {
                lanes_t v = col.get(c);
                const int j = lo - W + c;
                if (!SPLIT) fetch_ahead(ps, j);
                apply_law(v, col.get_terms(c), col.get_terms(c - 1), k.iota + static_cast<double>(j), k);
                if constexpr (SPLIT) {
                    memcpy(col.vx + c, &v.vx, sizeof(d));
                    memcpy(col.vy + c, &v.vy, sizeof(d));
                    continue;
                }
                finish(col, c, v, j, first, sp, cv, k, cell_of);
            }
            // With long chains of square roots and divisions in the law, the
            // motion step in a loop of its own keeps more chunks in flight.
            if constexpr (SPLIT)
                for (int c = first; c < W + m; c += W) {
                    fetch_ahead(ps, lo - W + c);
                    finish(col, c, col.get(c), lo - W + c, first, sp, cv, k, cell_of);
                }

            for (int j = hi - W; j >= bottom; j -= W) {
                const int c = j - lo + W;
                if (j >= 0)
                    store_lanes(ps + j, col.get(c));
                else
                    store(ps, j, col.get(c));
                const int low_lane = j < 0 ? -j : 0;
                unsigned respawn = col.respawn[(c - first) / W] & (0u - (1u << low_lane));
                while (respawn != 0) {
                    const int lane = 31 - __builtin_clz(respawn);
                    respawn &= ~(1u << lane);
                    if (pending_count < PENDING_CAP)
                        pending[pending_count++] = j + lane;
                    else
                        pending_lost = true;
                }
            }
            hi = lo;
        }

        auto respawn = [&](int i) {
            particle *p = &ps[i];
            psys_resetparticle(sp.system, p);
            finish_motion(p, sp);
            if (cell_of != nullptr) cell_of[i] = paint_index(cv, p->x, p->y);
        };
        if (!pending_lost) {
            for (int j = 0; j < pending_count; ++j) respawn(pending[j]);
        } else {
            for (int i = n - 1; i >= 0; --i)
                if (ps[i].life == -1) respawn(i);
        }

        // Painting in a pass of its own over the buffer indices: interleaved
        // with the stream of records, the scattered buffer updates would find
        // the buffer pushed out of the caches by the records. Each update is a
        // look-up of the saturated sum, which is quicker than forming it.
        if (cell_of != nullptr) {
#if defined(__x86_64__)
            _mm_sfence();  // the streamed indices are seen by the loads below
#endif
            unsigned char raised[256];
            for (unsigned v = 0; v < 256; ++v)
                raised[v] = static_cast<unsigned char>(std::min(255u, v + cv.brightness));
            unsigned char *const buffer = cv.buffer;
            for (int i = 0; i < n; ++i) buffer[cell_of[i]] = raised[buffer[cell_of[i]]];
        }
    }
};

// ---------------------------------------------------------------------------
// One build of the sweep per instruction set, chosen when the step runs.

using sweep_fn = void (*)(const step_params &, const canvas &);

#if defined(__x86_64__)
template <law L>
__attribute__((target("avx512f,avx512dq,avx512vl,avx512bw"), flatten)) void sweep_avx512(const step_params &sp,
                                                                                         const canvas &cv) {
    kernel<8, L>::sweep(sp, cv);
}

template <law L>
__attribute__((target("avx2"), flatten)) void sweep_avx2(const step_params &sp, const canvas &cv) {
    kernel<4, L>::sweep(sp, cv);
}

template <law L>
__attribute__((flatten)) void sweep_sse2(const step_params &sp, const canvas &cv) {
    kernel<2, L>::sweep(sp, cv);
}

template <law L>
sweep_fn pick(psys_simd isa) {
    switch (isa) {
    case psys_simd::avx512: return sweep_avx512<L>;
    case psys_simd::avx2: return sweep_avx2<L>;
    default: return sweep_sse2<L>;
    }
}
#elif PSYS_FAST_NEON
template <law L>
__attribute__((flatten)) void sweep_neon(const step_params &sp, const canvas &cv) {
    kernel<2, L>::sweep(sp, cv);
}

template <law L>
sweep_fn pick(psys_simd) {
    return sweep_neon<L>;
}
#else
// No fast step on this processor.
template <law L>
sweep_fn pick(psys_simd) {
    return nullptr;
}
#endif

// The sweep for the installed law, or null for a law (or a control set) the
// fast step does not know; then the literal step runs instead.
sweep_fn sweep_for(const psys *ps, psys_simd isa) {
    const psys_force_fn f = ps->force;
    if (ps->cset[0] == nullptr) return nullptr;
    if (f == psys_frc_gra) return pick<law::gra>(isa);
    if (f == psys_frc_stf) return pick<law::stf>(isa);
    if (ps->cset[1] == nullptr) return nullptr;
    if (f == psys_frc_ang) return pick<law::ang>(isa);
    if (f == psys_frc_oth) return pick<law::oth>(isa);
    if (f == psys_frc_spr && ps->cset[2] != nullptr) return pick<law::spr>(isa);
    return nullptr;
}

}  // namespace

psys_simd psys_simd_best() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw"))
        return psys_simd::avx512;
    if (__builtin_cpu_supports("avx2")) return psys_simd::avx2;
    return psys_simd::sse2;
#elif PSYS_FAST_NEON
    return psys_simd::neon;
#else
    return psys_simd::none;
#endif
}

int psys_automovep_simd(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                        psys_simd isa) {
    if (isa > psys_simd_best()) isa = psys_simd_best();
    const sweep_fn sweep = sweep_for(ps, isa);
    if (sweep == nullptr) return 0;
    step_params sp;
    sp.system = ps;
    sp.particles = ps->particles;
    sp.count = ps->count;
    sp.scale = 25000.0 / ps->cset[0]->value;
    sp.k1 = ps->cset[1] != nullptr ? ps->cset[1]->value : 0;
    sp.k2 = ps->cset[2] != nullptr ? ps->cset[2]->value : 0;
    sp.damping_on = ps->damping_on;
    sp.pull_on = ps->pull_on;
    sp.gravity_on = ps->gravity_on;
    sp.damping = ps->damping;
    sp.pull_x = ps->pull_x;
    sp.pull_y = ps->pull_y;
    sp.gravity_x = ps->gravity_x;
    sp.gravity_y = ps->gravity_y;
    const canvas cv{buffer,
                    width,
                    static_cast<double>(width - 3),
                    static_cast<double>(height - 3),
                    brightness,
                    buffer != nullptr && sp.count > 0 ? frame_cells(sp.count) : nullptr};
    if (sp.count > 0) sweep(sp, cv);
    return 1;
}

int psys_automovep_fast(psys *ps) { return psys_automovep_simd(ps, nullptr, 0, 0, 0, psys_simd_best()); }

int psys_automovep_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness) {
    return psys_automovep_simd(ps, buffer, width, height, brightness, psys_simd_best());
}
