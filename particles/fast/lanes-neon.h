// Two lanes in the compiler's vector extensions, with NEON's square root and
// fused operations on aarch64, with VSX's square root on little-endian POWER
// (no fused operations taken there, so the starfield push divides).
// Elsewhere the same code with the square root lane by lane, for the tests of
// the generic parts.
#pragma once

#if defined(__aarch64__)
#include <arm_neon.h>
#endif

#include <cmath>
#include <cstring>

#include "particles/fast/lane-types.h"
#include "particles/psys-paint.h"
#include "particles/psys2d.h"

namespace {

// A comparison gives each lane all ones or all zeros, and a choice between
// two vectors is bitwise.
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
#elif defined(__VSX__)
    v = __builtin_vsx_xvsqrtdp(v);
#else
    for (int l = 0; l < 2; ++l) v[l] = std::sqrt(v[l]);
#endif
}
#if defined(__aarch64__)
// q + r * y and a - q * b, each rounded once.
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
inline void pick(d2 &r, const d2 &k, const d2 &x, const d2 &y) { r = (d2)(((m2)k & (m2)x) | (~(m2)k & (m2)y)); }
inline unsigned bits(const d2 &k) {
    const m2 lane = (m2)k;
    return static_cast<unsigned>(lane[0] & 1) | static_cast<unsigned>(lane[1] & 2);
}
// Buffer index row * width + column of each lane's particle, restating
// psys_paint_cell with the callers' arithmetic; PSYS_NO_CELL for the lanes in skip.
inline void cells(const d2 &column, const d2 &row, int width, unsigned skip, int *out) {
    for (int l = 0; l < 2; ++l) out[l] = static_cast<int>(row[l]) * width + static_cast<int>(column[l]);
    for (; skip != 0; skip &= skip - 1) out[__builtin_ctz(skip)] = PSYS_NO_CELL;
}

}  // namespace
