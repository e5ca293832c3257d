// The few operations the sweep needs on its registers: the primitives of the
// instruction sets this processor has (x86-64: eight, four and two lanes;
// elsewhere two), and, written once on top of them for every width, the
// usual forms of the comparisons, the speed normalisation and the division by
// a fixed divisor. Included by the builds of the sweep and their tests only.
#pragma once

#include <bit>

#include "particles/fast/lane-types.h"
#if defined(__x86_64__)
#include "particles/fast/lanes-avx2.h"
#include "particles/fast/lanes-avx512.h"
#include "particles/fast/lanes-sse2.h"
#else
#include "particles/fast/lanes-neon.h"
#endif

namespace {

// The primitives hand their vector results back through a reference: code
// built without AVX passes and returns wide vectors differently from code
// built with it, which matters where the compiler does not inline
// (unoptimised builds). The templates below give them the usual form.
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

// v in every lane.
template <class D>
[[gnu::always_inline]] inline D splat(double v) {
    return D{} + v;
}

// |v| and -|v|, by the sign bit, as fabs and its negation give them.
constexpr long long SIGN_BIT = static_cast<long long>(0x8000000000000000ULL);
template <class D>
[[gnu::always_inline]] inline D magnitude(const D &v) {
    return (D)((words<D>)v & ~SIGN_BIT);
}
template <class D>
[[gnu::always_inline]] inline D negative_magnitude(const D &v) {
    return (D)((words<D>)v | SIGN_BIT);
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

// a / b for a dividend no caller can vouch for: divide's product when every
// lane lies within its bounds, else (a zero of either sign, a subnormal, a
// magnitude of 2^700 or more, NaN in any lane) the division.
template <class D>
[[gnu::always_inline]] inline D divide_any(const D &a, const divisor<D> &dv) {
    if constexpr (FUSED<D>) {
        constexpr unsigned all = (1u << sizeof(D) / sizeof(double)) - 1;
        const D m = magnitude(a);
        if (dv.by_product && (bits(gt(m, splat<D>(0x1p-700))) & bits(lt(m, splat<D>(0x1p700)))) == all)
            return divide(a, dv);
    }
    return a / dv.b;
}

}  // namespace
