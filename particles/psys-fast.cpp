// The per-frame step as one backward sweep over the particle array.
//
// Under the five laws a particle's velocity is changed only by the two pairs
// it belongs to, and both pairs read its position before it moves. So right
// after the pair (i - 1, i) particle i can be aged, damped, normalised, moved,
// bounced and painted. The sweep copies blocks of particles into columns on
// the stack and works on them a SIMD register of lanes at a time; every value
// is formed by the same operations in the same order as in the literal step,
// so the result is the same to the bit.
//
// The generators: starfield re-placements draw random() in descending order
// of the pair during the sweep, and all of them come before the respawns of
// the motion step, which are therefore deferred to the end of the sweep and
// done in descending order of index.
#include "particles/psys-fast.h"

#include <immintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

// The vector helpers below take and return vectors wider than the baseline
// ABI knows; they are only ever inlined into code built for their width.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace {

enum class law { gra, ang, oth, spr, stf };

// Particles per block: a block's columns stay in the first-level cache.
constexpr int BLOCK = 256;
// Widest SIMD register, in doubles; the columns carry this much slack.
constexpr int MAXW = 8;
constexpr int SLOTS = BLOCK + 4 * MAXW;
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
};

// One block as columns. Slot k holds particle lo - 1 + k: slot 0 the particle
// below the block, slots 1..m the block, slot m + 1 the particle above it
// (its position from before it moved). Pair slot k is the pair (slot k,
// slot k + 1). Slots past m + 1 are zero, read only by lanes thrown away.
struct columns {
    alignas(64) double x[SLOTS];
    alignas(64) double y[SLOTS];
    alignas(64) double vx[SLOTS];
    alignas(64) double vy[SLOTS];
    alignas(64) double moving[SLOTS];     // 1 for a particle the motion step moves, 0 if fixed
    alignas(64) double c0[SLOTS];         // per pair: what the law passes on
    alignas(64) double c1[SLOTS];
    alignas(64) double c2[SLOTS];
    alignas(64) int cell[SLOTS];  // buffer index the particle is painted at
    int life[SLOTS];
};

inline void deposit(const canvas &cv, int index) {
    unsigned char &cell = cv.buffer[index];
    const unsigned sum = cell + cv.brightness;
    cell = static_cast<unsigned char>(sum > 255 ? 255 : sum);
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
// compiler's vector extensions; square roots, comparisons and selections go
// through the small functions below, one set per instruction set, because the
// compiler builds those well only inside code for their own instruction set.

#define AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
#define AVX2 __attribute__((target("avx2")))

template <int W>
struct lanes {
    typedef double d __attribute__((vector_size(8 * W)));
    typedef long long m __attribute__((vector_size(8 * W)));
    typedef int i __attribute__((vector_size(4 * W)));
};
using d8 = lanes<8>::d;
using d4 = lanes<4>::d;
using d2 = lanes<2>::d;

// Eight lanes: a comparison gives a mask register.
AVX512 inline void root(d8 &v) { v = (d8)_mm512_mask_sqrt_pd((__m512d)v, (__mmask8)0xff, (__m512d)v); }
AVX512 inline __mmask8 lt(const d8 &a, const d8 &b) { return _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_LT_OQ); }
AVX512 inline __mmask8 gt(const d8 &a, const d8 &b) { return _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_GT_OQ); }
AVX512 inline __mmask8 eq(const d8 &a, const d8 &b) { return _mm512_cmp_pd_mask((__m512d)a, (__m512d)b, _CMP_EQ_OQ); }
AVX512 inline d8 pick(__mmask8 k, const d8 &x, const d8 &y) {
    return (d8)_mm512_mask_blend_pd(k, (__m512d)y, (__m512d)x);
}
AVX512 inline unsigned outside_box(const d8 &x, const d8 &y) {
    const __m512d lo = _mm512_set1_pd(0.0001), hi = _mm512_set1_pd(0.9999);
    return _mm512_cmp_pd_mask((__m512d)x, hi, _CMP_GT_OQ) | _mm512_cmp_pd_mask((__m512d)x, lo, _CMP_LT_OQ) |
           _mm512_cmp_pd_mask((__m512d)y, hi, _CMP_GT_OQ) | _mm512_cmp_pd_mask((__m512d)y, lo, _CMP_LT_OQ);
}

// Four and two lanes: a comparison gives all ones or all zeros per lane.
AVX2 inline void root(d4 &v) { v = (d4)_mm256_sqrt_pd((__m256d)v); }
AVX2 inline d4 lt(const d4 &a, const d4 &b) { return (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_LT_OQ); }
AVX2 inline d4 gt(const d4 &a, const d4 &b) { return (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_GT_OQ); }
AVX2 inline d4 eq(const d4 &a, const d4 &b) { return (d4)_mm256_cmp_pd((__m256d)a, (__m256d)b, _CMP_EQ_OQ); }
AVX2 inline d4 pick(const d4 &k, const d4 &x, const d4 &y) {
    return (d4)_mm256_blendv_pd((__m256d)y, (__m256d)x, (__m256d)k);
}
AVX2 inline unsigned outside_box(const d4 &x, const d4 &y) {
    const d4 lo = d4{} + 0.0001, hi = d4{} + 0.9999;
    const __m256d out = _mm256_or_pd(_mm256_or_pd((__m256d)gt(x, hi), (__m256d)lt(x, lo)),
                                     _mm256_or_pd((__m256d)gt(y, hi), (__m256d)lt(y, lo)));
    return _mm256_movemask_pd(out);
}

inline void root(d2 &v) { v = (d2)_mm_sqrt_pd((__m128d)v); }
inline d2 lt(const d2 &a, const d2 &b) { return (d2)_mm_cmplt_pd((__m128d)a, (__m128d)b); }
inline d2 gt(const d2 &a, const d2 &b) { return (d2)_mm_cmpgt_pd((__m128d)a, (__m128d)b); }
inline d2 eq(const d2 &a, const d2 &b) { return (d2)_mm_cmpeq_pd((__m128d)a, (__m128d)b); }
inline d2 pick(const d2 &k, const d2 &x, const d2 &y) {
    return (d2)_mm_or_pd(_mm_and_pd((__m128d)k, (__m128d)x), _mm_andnot_pd((__m128d)k, (__m128d)y));
}
inline unsigned outside_box(const d2 &x, const d2 &y) {
    const d2 lo = d2{} + 0.0001, hi = d2{} + 0.9999;
    const __m128d out =
        _mm_or_pd(_mm_or_pd((__m128d)gt(x, hi), (__m128d)lt(x, lo)), _mm_or_pd((__m128d)gt(y, hi), (__m128d)lt(y, lo)));
    return _mm_movemask_pd(out);
}

template <class V>
[[gnu::always_inline]] inline V load(const void *p) {
    V v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
[[gnu::always_inline]] inline void store(void *p, const V &v) {
    memcpy(p, &v, sizeof v);
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
    using iv = typename lanes<W>::i;

    static constexpr long long SIGN = static_cast<long long>(0x8000000000000000ULL);

    [[gnu::always_inline]] static d splat(double v) { return d{} + v; }
    [[gnu::always_inline]] static d abs(const d &v) { return (d)((m)v & ~SIGN); }
    [[gnu::always_inline]] static d negabs(const d &v) { return (d)((m)v | SIGN); }

    // What each pair k = 0 .. last passes on to its two particles.
    static void pairs(columns &c, int last, const step_params &sp) {
        const d k1 = splat(sp.k1), k2 = splat(sp.k2), zero{}, one = splat(1.0);
        for (int k = 0; k <= last; k += W) {
            const d xa = load<d>(c.x + k), ya = load<d>(c.y + k);
            const d xb = load<d>(c.x + k + 1), yb = load<d>(c.y + k + 1);
            if constexpr (L == law::gra) {
                const d dx = xa - xb, dy = ya - yb;
                const d f = 4.0 / (dx * dx - dy * dy);
                store(c.c0 + k, dy / f);
                store(c.c1 + k, dx / f);
            } else if constexpr (L == law::ang) {
                const d p = load<d>(c.vy + k) / k1;
                const d q = load<d>(c.vx + k) / k1;
                store(c.c0 + k, p);
                store(c.c1 + k, q);
                store(c.c2 + k, (xb - xa) * p - (yb - ya) * q);
            } else if constexpr (L == law::oth) {
                const d dx = xb - xa, dy = yb - ya;
                store(c.c0 + k, pick(eq(dx, zero), one, dx));
                store(c.c1 + k, pick(eq(dy, zero), one, dy));
            } else if constexpr (L == law::spr) {
                const d dx = xa - xb, dy = ya - yb;
                d dist = dx * dx + dy * dy;
                root(dist);
                const d e = (dist - k2) * k1;
                const d ef = pick(gt(load<d>(c.moving + k), zero), e, e * 0.125);
                store(c.c0 + k, dx * ef);
                store(c.c1 + k, dy * ef);
                store(c.c2 + k, dist);
            }
        }
    }

    // Starfield: the particles of the block that are a of a pair and have left
    // the inner box are put back near the centre, highest index first.
    static void replace(columns &c, int m_count, int lo, const step_params &sp) {
        const int top = sp.count - 2 - (lo - 1);  // highest slot that is a of a pair
        const int last = top < m_count ? top : m_count;
        if (last < 1) return;
        for (int k = 1 + (last - 1) / W * W; k >= 1; k -= W) {
            unsigned out = outside_box(load<d>(c.x + k), load<d>(c.y + k));
            if (k + W - 1 > last) out &= (1u << (last - k + 1)) - 1;
            while (out != 0) {
                const int lane = 31 - __builtin_clz(out);
                out &= ~(1u << lane);
                c.x[k + lane] = random() / RANDOM_SCALE / 10000.0 + 0.4995;
                c.y[k + lane] = random() / RANDOM_SCALE / 10000.0 + 0.4995;
            }
        }
    }

    // Slots 1..m: the law's changes as particle a of pair k, then as particle
    // b of pair k - 1, then the motion step; results go back into the slots.
    static void particles(columns &c, int m_count, int lo, const step_params &sp, const canvas &cv) {
        const d zero{}, half = splat(0.5), one = splat(1.0);
        const d scale = splat(sp.scale), k1 = splat(sp.k1);
        const d damping = splat(sp.damping), pull_x = splat(sp.pull_x), pull_y = splat(sp.pull_y);
        const d gravity_x = splat(sp.gravity_x), gravity_y = splat(sp.gravity_y);
        const d wspan = splat(cv.wspan), hspan = splat(cv.hspan);
        const d top = splat(sp.count - 1.0);  // the last particle is a of no pair
        d iota{};
        for (int l = 0; l < W; ++l) iota[l] = l;

        for (int k = 1; k <= m_count; k += W) {
            const d index = iota + static_cast<double>(lo - 1 + k);
            const auto has_a = lt(index, top), has_b = gt(index, zero);
            const d x = load<d>(c.x + k), y = load<d>(c.y + k);
            d vx = load<d>(c.vx + k), vy = load<d>(c.vy + k);

            if constexpr (L == law::gra) {
                vx = pick(has_a, vx - load<d>(c.c0 + k), vx);
                vy = pick(has_a, vy - load<d>(c.c1 + k), vy);
                vx = pick(has_b, vx - load<d>(c.c0 + k - 1), vx);
                vy = pick(has_b, vy - load<d>(c.c1 + k - 1), vy);
            } else if constexpr (L == law::ang) {
                {
                    const d p = load<d>(c.c0 + k), q = load<d>(c.c1 + k);
                    const auto turn = gt(load<d>(c.c2 + k), zero);
                    d ax = pick(turn, vx + p, vx - p);
                    d ay = pick(turn, vy - q, vy + q);
                    normalise(ax, ay, scale);
                    vx = pick(has_a, ax, vx);
                    vy = pick(has_a, ay, vy);
                }
                {
                    const d p = load<d>(c.c0 + k - 1), q = load<d>(c.c1 + k - 1);
                    const auto turn = gt(load<d>(c.c2 + k - 1), zero);
                    d bx = pick(turn, vx - p, vx + p);
                    d by = pick(turn, vy + q, vy - q);
                    normalise(bx, by, scale);
                    vx = pick(has_b, bx, vx);
                    vy = pick(has_b, by, vy);
                }
            } else if constexpr (L == law::oth) {
                d sp_a = vx * vx + vy * vy;
                root(sp_a);
                vx = pick(has_a, load<d>(c.c0 + k) * k1 * sp_a + vx, vx);
                vy = pick(has_a, load<d>(c.c1 + k) * k1 * sp_a + vy, vy);
            } else if constexpr (L == law::spr) {
                {
                    const auto near = lt(load<d>(c.c2 + k), splat(1e-06));
                    d ax = vx - load<d>(c.c0 + k), ay = vy - load<d>(c.c1 + k);
                    normalise(ax, ay, scale);
                    vx = pick(has_a, pick(near, -vx, ax), vx);
                    vy = pick(has_a, pick(near, vy, ay), vy);
                }
                {
                    const auto near = lt(load<d>(c.c2 + k - 1), splat(1e-06));
                    vx = pick(has_b, pick(near, -vx, vx + load<d>(c.c0 + k - 1)), vx);
                    vy = pick(has_b, pick(near, vy, vy + load<d>(c.c1 + k - 1)), vy);
                }
            } else if constexpr (L == law::stf) {
                d ax = vx + (x - 0.5) / 54232.0, ay = vy + (y - 0.5) / 54232.0;
                normalise(ax, ay, scale);
                vx = pick(has_a, ax, vx);
                vy = pick(has_a, ay, vy);
            }

            // The motion step; fixed particles keep their place and the
            // velocity the law left them.
            d mx = vx, my = vy;
            if (sp.damping_on) {
                mx = damping * mx;
                my = damping * my;
            }
            if (sp.pull_on) {
                mx = pick(lt(x, half), mx + pull_x, mx - pull_x);
                my = pick(lt(y, half), my + pull_y, my - pull_y);
            }
            normalise(mx, my, scale);
            if (sp.gravity_on) {
                my = my + gravity_y;
                mx = mx + gravity_x;
            }
            d nx = x + mx, ny = y + my;
            const auto x_hi = gt(nx, one), x_lo = lt(nx, zero);
            mx = pick(x_hi, negabs(mx), pick(x_lo, abs(mx), mx));
            nx = pick(x_hi, one, pick(x_lo, zero, nx));
            const auto y_hi = gt(ny, one), y_lo = lt(ny, zero);
            my = pick(y_hi, negabs(my), pick(y_lo, abs(my), my));
            ny = pick(y_hi, one, pick(y_lo, zero, ny));

            const auto moving = gt(load<d>(c.moving + k), zero);
            nx = pick(moving, nx, x);
            ny = pick(moving, ny, y);
            store(c.x + k, nx);
            store(c.y + k, ny);
            store(c.vx + k, pick(moving, mx, vx));
            store(c.vy + k, pick(moving, my, vy));
            if (cv.buffer != nullptr) {
                const iv column = __builtin_convertvector(wspan * nx + 1.0, iv);
                const iv row = __builtin_convertvector(hspan * ny + 2.0, iv);
                store(c.cell + k, row * cv.width + column);
            }
        }
    }

    static void sweep(const step_params &sp, const canvas &cv) {
        particle *const ps = sp.particles;
        const int n = sp.count;
        columns c;
        int pending[PENDING_CAP];
        int pending_count = 0;
        bool pending_lost = false;
        double above_x = 0, above_y = 0;  // position of particle hi before it moved

        for (int hi = n; hi > 0;) {
            const int lo = hi > BLOCK ? hi - BLOCK : 0;
            const int m_count = hi - lo;

            // Gather slots m..0, downward like the whole sweep, which keeps the
            // hardware prefetcher on one stream; slot m + 1 is the particle
            // above, already moved.
            for (int k = m_count; k >= (lo == 0 ? 1 : 0); --k) {
                const particle &p = ps[lo - 1 + k];
                c.x[k] = p.x;
                c.y[k] = p.y;
                c.vx[k] = p.vx;
                c.vy[k] = p.vy;
                c.life[k] = p.life;
                c.moving[k] = p.life == FIXED_LIFE ? 0 : 1;
            }
            if (lo == 0) {
                c.x[0] = c.y[0] = c.vx[0] = c.vy[0] = 0;
                c.moving[0] = 1;
            }
            for (int k = m_count + 1; k <= m_count + 1 + 2 * MAXW; ++k) {
                c.x[k] = c.y[k] = c.vx[k] = c.vy[k] = 0;
                c.moving[k] = 1;
            }
            // The next block's records, fetched while this one is worked on.
            if (lo > 0) {
                const char *from = reinterpret_cast<const char *>(ps + (lo > BLOCK ? lo - BLOCK - 1 : 0));
                const char *to = reinterpret_cast<const char *>(ps + lo - 1);
                for (const char *q = to; q >= from; q -= 64) __builtin_prefetch(q);
            }
            c.x[m_count + 1] = above_x;
            c.y[m_count + 1] = above_y;
            above_x = c.x[1];
            above_y = c.y[1];

            if constexpr (L == law::stf)
                replace(c, m_count, lo, sp);
            else
                pairs(c, m_count + W, sp);
            particles(c, m_count, lo, sp, cv);

            // Write back, highest index first, so deferred respawns are listed
            // in descending order.
            for (int k = m_count; k >= 1; --k) {
                const int i = lo - 1 + k;
                particle &p = ps[i];
                const int life = c.life[k];
                if (life != FIXED_LIFE) {
                    p.life = life - 1;
                    if (life == 0) {
                        if (pending_count < PENDING_CAP)
                            pending[pending_count++] = i;
                        else
                            pending_lost = true;
                        continue;
                    }
                }
                p.x = c.x[k];
                p.y = c.y[k];
                p.vx = c.vx[k];
                p.vy = c.vy[k];
                if (cv.buffer != nullptr) deposit(cv, c.cell[k]);
            }
            hi = lo;
        }

        auto respawn = [&](int i) {
            particle *p = &ps[i];
            psys_resetparticle(sp.system, p);
            finish_motion(p, sp);
            if (cv.buffer != nullptr) deposit(cv, paint_index(cv, p->x, p->y));
        };
        if (!pending_lost) {
            for (int j = 0; j < pending_count; ++j) respawn(pending[j]);
        } else {
            for (int i = n - 1; i >= 0; --i)
                if (ps[i].life == -1) respawn(i);
        }
    }
};

// ---------------------------------------------------------------------------
// One build of the sweep per instruction set, chosen when the step runs.

using sweep_fn = void (*)(const step_params &, const canvas &);

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
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw"))
        return psys_simd::avx512;
    if (__builtin_cpu_supports("avx2")) return psys_simd::avx2;
    return psys_simd::sse2;
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
    const canvas cv{buffer, width, static_cast<double>(width - 3), static_cast<double>(height - 3), brightness};
    if (sp.count > 0) sweep(sp, cv);
    return 1;
}

int psys_automovep_fast(psys *ps) { return psys_automovep_simd(ps, nullptr, 0, 0, 0, psys_simd_best()); }

int psys_automovep_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness) {
    return psys_automovep_simd(ps, buffer, width, height, brightness, psys_simd_best());
}
