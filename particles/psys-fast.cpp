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
// of the pair during the sweep (through a random_lease, which spares them
// random()'s lock), and all of them come before the respawns of the motion
// step, which are therefore deferred to the end of the sweep and done in
// descending order of index.
//
// The vector kernels below restate the scalar rules of psys2d.cpp; each names
// the function it restates, so that a change to one finds the other.
#include "particles/psys-fast.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "particles/psys-lanes.h"
#include "particles/psys-paint.h"
#include "particles/psys-rules.h"
#include "particles/random-lease.h"
#include "pool/workers.h"

namespace {

enum class law { gra, ang, oth, spr, stf };

// The starfield push divides by a product (see divide in psys-lanes.h).
static_assert(divides_by_product(STAR_DRIVE));

// The registers hold a particle record as five 8-byte words: x, y, vx, vy and
// a word whose low half is life (the high half is padding, kept as read).
static_assert(sizeof(particle) == 40 && offsetof(particle, y) == 8 && offsetof(particle, vx) == 16 &&
                  offsetof(particle, vy) == 24 && offsetof(particle, life) == 32,
              "particle records are five 8-byte words");

// Particles per block: a block's columns stay in the first-level cache.
constexpr int BLOCK = 256;
// Deferred respawns whose indices are kept; past that, the respawn phase
// finds them by their life of -1 (see respawn_part).
constexpr int PENDING_CAP = 4096;

// What the step reads from the system and the control variables, fixed for
// the whole step.
struct step_params {
    psys *system;
    particle *particles;
    int count;
    double scale;  // SPEED_SCALE / maxspeed: the quotient every normalisation uses
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
    int *cells;  // room for every particle's buffer index
    int size;    // width * height: the buffer's bytes
    psys_raised raised;
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

// A starfield re-placement put off by a part of a threaded step: the
// particle, its record before the step, and the coordinates drawn for it.
struct deferred {
    int index;
    particle record;
    double x, y;
};

// A stretch [lo, hi) of the array swept top-down as a whole, with what it
// takes from its neighbours and what it leaves for the respawn phase.
struct part {
    int lo, hi;
    double above_x = 0, above_y = 0;  // particle hi's position before the step, if hi < count
    particle below{};                 // particle lo - 1 before the step, if lo > 0
    // The particles whose life ran out, highest index first; past
    // PENDING_CAP only `pending_lost` is kept.
    int pending[PENDING_CAP];
    int pending_count = 0;
    bool pending_lost = false;
    // Null: starfield re-placements draw their coordinates in the sweep,
    // from `draws`. Else they are put off to here, highest index first, for
    // the owning thread (see place_back).
    std::vector<deferred> *replaced = nullptr;
    bool out_of_memory = false;  // `replaced` could not grow: the step is incomplete
    random_lease *draws = nullptr;
    // How far below the chunk being worked on its records are fetched: one
    // block on one thread; two on a pool, whose threads share the memory and
    // wait longer for it (measured: a frame on two threads 0.1-0.4 ms
    // quicker; on one thread two blocks made it slower).
    int ahead = BLOCK;
};

// What a pair (a, b) passes on to its two particles, named per law.
template <class D, law L>
struct terms;
// Gravitational: the change (ex, ey) both particles subtract from their velocity.
template <class D>
struct terms<D, law::gra> {
    D ex, ey;
};
// Angular: a's velocity over the constant (p = vy / k, q = vx / k), and the
// side of a's path b lies on (turn > 0: a turns one way and b the other).
template <class D>
struct terms<D, law::ang> {
    D p, q, turn;
};
// Other: the offset from a to b, an axis of zero offset counted as 1.
template <class D>
struct terms<D, law::oth> {
    D ux, uy;
};
// Spring: the offset from b to a times the force (fx, fy), and the distance.
template <class D>
struct terms<D, law::spr> {
    D fx, fy, dist;
};
// Starfield: a pair passes nothing on; each a moves on its own.
template <class D>
struct terms<D, law::stf> {};

template <int W, law L>
struct kernel {
    using d = typename lanes<W>::d;
    using m = typename lanes<W>::m;
    using lanes_t = chunk<d>;
    using terms_t = terms<d, L>;

    static constexpr long long SIGN = static_cast<long long>(0x8000000000000000ULL);
    static constexpr long long LOW = 0xffffffffLL;

    [[gnu::always_inline]] static d splat(double v) { return d{} + v; }
    [[gnu::always_inline]] static d abs(const d &v) { return (d)((m)v & ~SIGN); }
    [[gnu::always_inline]] static d negabs(const d &v) { return (d)((m)v | SIGN); }

    // The step's numbers, one per lane.
    struct constants {
        d zero, half, one, tiny, scale, k1, k2, damping, pull_x, pull_y, gravity_x, gravity_y, top, wspan, hspan;
        d iota;
        divisor<d> drive;  // STAR_DRIVE, the starfield push's divisor
        constants(const step_params &sp, const canvas &cv)
            : zero{},
              half(splat(CENTRE)),
              one(splat(1.0)),
              tiny(splat(SPRING_NEAR)),
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
              iota{},
              drive(STAR_DRIVE) {
            for (int l = 0; l < W; ++l) iota[l] = l;
        }
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

    // Lane l: the pair (j - 1 + l, j + l), a from `a`, b from `b`. Restates
    // the part of psys_frc_gra, _ang, _oth and _spr that depends on both.
    static terms_t pair_terms(const lanes_t &a, const lanes_t &b, const constants &k) {
        terms_t t{};
        if constexpr (L == law::gra) {
            const d dx = a.x - b.x, dy = a.y - b.y;
            const d f = 4.0 / (dx * dx - dy * dy);
            t.ex = dy / f;
            t.ey = dx / f;
        } else if constexpr (L == law::ang) {
            t.p = a.vy / k.k1;
            t.q = a.vx / k.k1;
            t.turn = (b.x - a.x) * t.p - (b.y - a.y) * t.q;
        } else if constexpr (L == law::oth) {
            const d dx = b.x - a.x, dy = b.y - a.y;
            t.ux = pick(eq(dx, k.zero), k.one, dx);
            t.uy = pick(eq(dy, k.zero), k.one, dy);
        } else if constexpr (L == law::spr) {
            const d dx = a.x - b.x, dy = a.y - b.y;
            d dist = dx * dx + dy * dy;
            root(dist);
            const d e = (dist - k.k2) * k.k1;
            const d ef = pick(life_is(a.life, FIXED_LIFE), e * SPRING_FIXED_FACTOR, e);
            t.fx = dx * ef;
            t.fy = dy * ef;
            t.dist = dist;
        }
        return t;
    }

    // Starfield, restating the re-placement in psys_frc_stf: lanes that are a
    // of a pair (index 0 .. count - 2) and have left the inner box are put
    // back near the centre, highest index first, or noted in the part's
    // list of re-placements put off. Returns the lanes put off.
    static unsigned replace(double *x, double *y, int j, int n, const particle *ps, part &pt) {
        const int first = j < 0 ? -j : 0, last = n - 2 - j < W - 1 ? n - 2 - j : W - 1;
        if (first > last) return 0;
        d vx, vy;
        memcpy(&vx, x, sizeof vx);
        memcpy(&vy, y, sizeof vy);
        unsigned out = outside_box(vx, vy) & ((2u << last) - (1u << first));
        const unsigned put_off = pt.replaced != nullptr ? out : 0;
        while (out != 0) {
            const int lane = 31 - __builtin_clz(out);
            out &= ~(1u << lane);
            if (put_off != 0) {
                // The list grows on a pool thread, where an exception would
                // end the process: a failure is noted, and the owning thread
                // raises it once the job is done.
                try {
                    pt.replaced->push_back({j + lane, ps[j + lane], 0, 0});
                } catch (const std::bad_alloc &) {
                    pt.out_of_memory = true;
                }
                continue;
            }
            x[lane] = star_spawn_coord(pt.draws->next());
            y[lane] = star_spawn_coord(pt.draws->next());
        }
        return put_off;
    }

    // The law's changes to particles j .. j + W - 1: as a of their pair with
    // the particle above (terms `as_a`), then as b of their pair with the
    // particle below (terms `as_b`). Restates the velocity changes of
    // psys_frc_gra, _ang, _oth, _spr and _stf.
    static void apply_law(lanes_t &c, const terms_t &as_a, const terms_t &as_b, const d &index, const constants &k) {
        const auto has_a = lt(index, k.top), has_b = gt(index, k.zero);
        d &vx = c.vx, &vy = c.vy;
        if constexpr (L == law::gra) {
            vx = pick(has_a, vx - as_a.ex, vx);
            vy = pick(has_a, vy - as_a.ey, vy);
            vx = pick(has_b, vx - as_b.ex, vx);
            vy = pick(has_b, vy - as_b.ey, vy);
        } else if constexpr (L == law::ang) {
            {
                const auto turn = gt(as_a.turn, k.zero);
                d ax = pick(turn, vx + as_a.p, vx - as_a.p);
                d ay = pick(turn, vy - as_a.q, vy + as_a.q);
                normalise(ax, ay, k.scale);
                vx = pick(has_a, ax, vx);
                vy = pick(has_a, ay, vy);
            }
            {
                const auto turn = gt(as_b.turn, k.zero);
                d bx = pick(turn, vx - as_b.p, vx + as_b.p);
                d by = pick(turn, vy + as_b.q, vy - as_b.q);
                normalise(bx, by, k.scale);
                vx = pick(has_b, bx, vx);
                vy = pick(has_b, by, vy);
            }
        } else if constexpr (L == law::oth) {
            d speed = vx * vx + vy * vy;
            root(speed);
            vx = pick(has_a, as_a.ux * k.k1 * speed + vx, vx);
            vy = pick(has_a, as_a.uy * k.k1 * speed + vy, vy);
        } else if constexpr (L == law::spr) {
            {
                const auto near = lt(as_a.dist, k.tiny);
                d ax = vx - as_a.fx, ay = vy - as_a.fy;
                normalise(ax, ay, k.scale);
                vx = pick(has_a, pick(near, -vx, ax), vx);
                vy = pick(has_a, pick(near, vy, ay), vy);
            }
            {
                const auto near = lt(as_b.dist, k.tiny);
                vx = pick(has_b, pick(near, -vx, vx + as_b.fx), vx);
                vy = pick(has_b, pick(near, vy, vy + as_b.fy), vy);
            }
        } else if constexpr (L == law::stf) {
            // Positions lie in [0, 1], so an offset from CENTRE is +0 or of a
            // size between 2^-54 and 0.5: within what divide takes.
            d ax = vx + divide(c.x - CENTRE, k.drive), ay = vy + divide(c.y - CENTRE, k.drive);
            normalise(ax, ay, k.scale);
            vx = pick(has_a, ax, vx);
            vy = pick(has_a, ay, vy);
        }
    }

    // The motion step, restating psys_move with psys_move_particle: ageing,
    // damping, centre pull, normalisation, gravity, move and walls. Fixed
    // particles keep their place, life and the velocity the law left them.
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
    // holds the terms of the pair (column c, column c + 1), one array per
    // word of terms_t.
    struct columns {
        static constexpr int SIZE = BLOCK + 4 * W;
        static constexpr int TERM_WORDS = std::is_empty_v<terms_t> ? 0 : sizeof(terms_t) / sizeof(d);
        alignas(64) double x[SIZE], y[SIZE], vx[SIZE], vy[SIZE], life[SIZE];
        alignas(64) double term[TERM_WORDS > 0 ? TERM_WORDS : 1][SIZE];
        unsigned respawn[BLOCK / W + 1];  // per chunk: lanes whose life runs out now
        unsigned put_off[BLOCK / W + 1];  // per chunk: starfield lanes whose re-placement is put off

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
        // The particle at column c, from lane l of a chunk.
        void put_lane(int c, const lanes_t &v, int l) {
            memcpy(x + c, reinterpret_cast<const double *>(&v.x) + l, sizeof(double));
            memcpy(y + c, reinterpret_cast<const double *>(&v.y) + l, sizeof(double));
            memcpy(vx + c, reinterpret_cast<const double *>(&v.vx) + l, sizeof(double));
            memcpy(vy + c, reinterpret_cast<const double *>(&v.vy) + l, sizeof(double));
            memcpy(life + c, reinterpret_cast<const double *>(&v.life) + l, sizeof(double));
        }
        void clear(int c) { x[c] = y[c] = vx[c] = vy[c] = life[c] = 0; }
        terms_t get_terms(int c) const {
            terms_t t;
            if constexpr (TERM_WORDS > 0) {
                d w[TERM_WORDS];
                for (int i = 0; i < TERM_WORDS; ++i) memcpy(&w[i], term[i] + c, sizeof(d));
                memcpy(&t, w, sizeof t);
            }
            return t;
        }
        void put_terms(int c, const terms_t &t) {
            if constexpr (TERM_WORDS > 0) {
                d w[TERM_WORDS];
                memcpy(w, &t, sizeof t);
                for (int i = 0; i < TERM_WORDS; ++i) memcpy(term[i] + c, &w[i], sizeof(d));
            }
        }
    };

    // Where a block lies in the array and in its columns.
    struct block {
        int lo, hi;  // the block's particles: lo .. hi - 1
        int m;       // hi - lo
        // Chunks of W run down from hi; the lowest starts at `bottom`. Every
        // block but the lowest is full (BLOCK is a multiple of W), so bottom
        // is lo there; in the lowest block (lo = 0) a part chunk leaves bottom
        // below 0, and the lanes below index 0 are loaded as a resting
        // particle at the origin and never stored.
        int bottom;
        int first;  // the column of the lowest chunk: bottom - lo + W, at most W
    };

    static block block_under(int hi) {
        block b;
        b.hi = hi;
        b.lo = hi > BLOCK ? hi - BLOCK : 0;
        b.m = hi - b.lo;
        b.bottom = hi - (b.m + W - 1) / W * W;
        b.first = b.bottom - b.lo + W;
        return b;
    }

    // Laws with square roots and divisions of their own get the motion step
    // in a loop apart (see law_and_motion).
    static constexpr bool SPLIT = L == law::ang || L == law::spr || L == law::stf;

    // The records pt.ahead below chunk j, fetched while this block is worked
    // on: a chunk's worth at a time, in the loop with the most work per chunk,
    // since a burst of fetches stalls until it is served. Not below the part.
    // Fetched for writing, since the block stores them back: the lines then
    // arrive owned and the stores need not ask for them again (measured with
    // the eight-lane build, which has the instruction for it: about 0.3 ms
    // quicker on two threads).
    [[gnu::always_inline]] static void fetch_ahead(const particle *ps, int j, const part &pt) {
        if (j - pt.ahead >= pt.lo)
#pragma GCC unroll 8
            for (int b = 0; b < W * static_cast<int>(sizeof(particle)); b += 64)
                __builtin_prefetch(reinterpret_cast<const char *>(ps + j - pt.ahead) + b, 1);
    }

    // Phase 1: the block's records into columns.
    static void load_block(columns &col, const particle *ps, const block &b) {
        for (int j = b.hi - W; j >= b.bottom; j -= W) {
            if (j >= 0) {
                lanes_t v;
                load_lanes(ps + j, v);
                col.put(j - b.lo + W, v);
            } else {
                col.put(j - b.lo + W, load(ps, j));
            }
        }
    }

    // Phase 2: the neighbours of the block's end pairs. Below, particle
    // lo - 1 at column W - 1 as it was before the step: the block under this
    // one is not yet stored, so it is read from the array, except below the
    // part, where its owner may already be changing it and the part's copy
    // is taken. At lo = 0 there is no particle below; column W - 1 is then a
    // lane of the lowest chunk (first < W) or, when that chunk starts at 0, is
    // set to zero, and the pair it forms is masked off by index anyway.
    // Above, particle hi at column W + m, whose position before it moved was
    // kept by the block above (above_x, above_y); the pairs read no more of
    // it. The columns past it are zero, read only by the last chunk's pair
    // terms. Then this block's particle lo is kept for the block below.
    static void link_neighbours(columns &col, const particle *ps, const block &b, const part &pt, double &above_x,
                                double &above_y) {
        if (b.lo > pt.lo) {
            col.put_lane(W - 1, load(ps, b.lo - W), W - 1);  // lane W - 1 is particle lo - 1
        } else if (b.lo > 0) {
            col.x[W - 1] = pt.below.x;
            col.y[W - 1] = pt.below.y;
            col.vx[W - 1] = pt.below.vx;
            col.vy[W - 1] = pt.below.vy;
            col.life[W - 1] = 0;
            memcpy(col.life + W - 1, &pt.below.life, sizeof(int));
        } else if (b.first == W) {
            col.clear(W - 1);
        }
        for (int c = W + b.m; c < W + b.m + 2 * W; ++c) col.clear(c);
        col.x[W + b.m] = above_x;
        col.y[W + b.m] = above_y;
        above_x = col.x[W];
        above_y = col.y[W];
    }

    // Phase 3: the pair terms of every pair from (lo - 1, lo) up to
    // (hi - 1, hi); for the starfield, whose pairs pass nothing on, the
    // re-placements instead, from the top down as the literal step draws them.
    static void pair_phase(columns &col, const particle *ps, const block &b, part &pt, int n, const constants &k) {
        if constexpr (L == law::stf) {
            for (int j = b.hi - W; j >= b.bottom; j -= W) {
                const int c = j - b.lo + W;
                col.put_off[(c - b.first) / W] = replace(col.x + c, col.y + c, j, n, ps, pt);
            }
        } else {
            for (int c = b.first - 1; c < W + b.m; c += W) col.put_terms(c, pair_terms(col.get(c), col.get(c + 1), k));
        }
    }

    // The motion step for the chunk at column c (particles from j up), which
    // of its lanes are to be respawned, and its buffer indices: PSYS_NO_CELL for
    // the lanes whose step is finished later, respawns and re-placements put
    // off.
    [[gnu::always_inline]] static void finish(columns &col, int c, const lanes_t &chunk, int j, int first,
                                              const step_params &sp, const canvas &cv, const constants &k,
                                              int *cell_of) {
        lanes_t v = chunk;
        const int at = (c - first) / W;
        const unsigned respawn = bits(life_is(v.life, 0));
        col.respawn[at] = respawn;
        move(v, sp, k);
        col.put(c, v);
        if (cell_of != nullptr) {
            unsigned skip = respawn;
            if constexpr (L == law::stf) skip |= col.put_off[at];
            if (j >= 0) {
                cells(k.wspan * v.x + 1.0, k.hspan * v.y + 2.0, cv.width, skip, cell_of + j);
            } else {
                for (int l = -j; l < W; ++l)
                    cell_of[j + l] =
                        skip >> l & 1 ? PSYS_NO_CELL : psys_paint_cell(v.x[l], v.y[l], cv.wspan, cv.hspan, cv.width);
            }
        }
    }

    // Phase 4: the law and the motion step, chunk by chunk.
    static void law_and_motion(columns &col, const particle *ps, const block &b, const part &pt, const step_params &sp,
                               const canvas &cv, const constants &k, int *cell_of) {
        for (int c = b.first; c < W + b.m; c += W) {
            lanes_t v = col.get(c);
            const int j = b.lo - W + c;
            if (!SPLIT) fetch_ahead(ps, j, pt);
            apply_law(v, col.get_terms(c), col.get_terms(c - 1), k.iota + static_cast<double>(j), k);
            if constexpr (SPLIT) {
                memcpy(col.vx + c, &v.vx, sizeof(d));
                memcpy(col.vy + c, &v.vy, sizeof(d));
                continue;
            }
            finish(col, c, v, j, b.first, sp, cv, k, cell_of);
        }
        // With long chains of square roots and divisions in the law, the
        // motion step in a loop of its own keeps more chunks in flight.
        if constexpr (SPLIT)
            for (int c = b.first; c < W + b.m; c += W) {
                fetch_ahead(ps, b.lo - W + c, pt);
                finish(col, c, col.get(c), b.lo - W + c, b.first, sp, cv, k, cell_of);
            }
    }

    // Phase 5: the block back into the array, and its respawns noted, highest
    // index first. Lanes below index 0 are neither stored nor noted: the mask
    // 0u - (1u << low_lane) keeps the lanes from low_lane up.
    static void store_block(columns &col, particle *ps, const block &b, part &pt) {
        // Kept in locals: the stores to the records may alias the part.
        int pending_count = pt.pending_count;
        bool pending_lost = pt.pending_lost;
        for (int j = b.hi - W; j >= b.bottom; j -= W) {
            const int c = j - b.lo + W;
            if (j >= 0)
                store_lanes(ps + j, col.get(c));
            else
                store(ps, j, col.get(c));
            const int low_lane = j < 0 ? -j : 0;
            unsigned respawn = col.respawn[(c - b.first) / W] & (0u - (1u << low_lane));
            while (respawn != 0) {
                const int lane = 31 - __builtin_clz(respawn);
                respawn &= ~(1u << lane);
                if (pending_count < PENDING_CAP)
                    pt.pending[pending_count++] = j + lane;
                else
                    pending_lost = true;
            }
        }
        pt.pending_count = pending_count;
        pt.pending_lost = pending_lost;
    }

    // Starfield re-placements put off by a part of a threaded step, with
    // their coordinates drawn, W at a time: each particle from its record as
    // before the step at the coordinates drawn for it, then the rest of the
    // law (the drive of psys_frc_stf), ageing and the motion step as the
    // sweep does them; stored, and painted into `into` (when the step paints).
    // One whose life runs out now is left to its respawn, which overwrites
    // every field and paints it. The law changes only the particle itself, so
    // no other particle's step read what the sweep left here.
    static void place_back(const step_params &sp, const canvas &cv, const deferred *list, size_t count,
                           unsigned char *into) {
        const constants k(sp, cv);
        for (size_t i = 0; i < count; i += W) {
            const int m = count - i < W ? static_cast<int>(count - i) : W;
            lanes_t c{};
            for (int l = 0; l < m; ++l) {
                const deferred &d = list[i + l];
                // Scattered over the part: fetch the records some chunks ahead.
                if (i + l + 2 * W < count) __builtin_prefetch(&sp.particles[list[i + l + 2 * W].index], 1);
                c.x[l] = d.x;
                c.y[l] = d.y;
                c.vx[l] = d.record.vx;
                c.vy[l] = d.record.vy;
                memcpy(reinterpret_cast<char *>(&c.life) + 8 * l, &d.record.life, 8);
            }
            apply_law(c, terms_t{}, terms_t{}, k.zero, k);  // every one is the a of a pair
            move(c, sp, k);
            for (int l = 0; l < m; ++l) {
                const deferred &d = list[i + l];
                if (d.record.life == 0) continue;
                particle &p = sp.particles[d.index];
                p = d.record;
                p.x = c.x[l];
                p.y = c.y[l];
                p.vx = c.vx[l];
                p.vy = c.vy[l];
                memcpy(&p.life, reinterpret_cast<const char *>(&c.life) + 8 * l, sizeof p.life);
                if (into != nullptr)
                    psys_paint_at(into, psys_paint_cell(p.x, p.y, cv.wspan, cv.hspan, cv.width), cv.raised);
            }
        }
    }

    // The sweep over one part, block by block from its top down.
    static void sweep(const step_params &sp, const canvas &cv, part &pt) {
        particle *const ps = sp.particles;
        const constants k(sp, cv);
        columns col;
        int *const cell_of = cv.buffer != nullptr ? cv.cells : nullptr;
        double above_x = pt.above_x, above_y = pt.above_y;
        const int part_lo = pt.lo;
        for (int hi = pt.hi; hi > part_lo;) {
            const block b = block_under(hi);
            load_block(col, ps, b);
            link_neighbours(col, ps, b, pt, above_x, above_y);
            pair_phase(col, ps, b, pt, sp.count, k);
            law_and_motion(col, ps, b, pt, sp, cv, k, cell_of);
            store_block(col, ps, b, pt);
            hi = b.lo;
        }
    }
};

// Phase 6: the part's respawns, highest index first, each followed by the
// motion step from damping on and painted into the buffer (when the step
// paints). Past PENDING_CAP the part is scanned for them instead: the sweep
// has aged every particle that moves, so a life of -1 now means exactly that
// the life ran out in this step (live particles are at 0 or more, fixed ones
// at FIXED_LIFE), and a respawned particle's life is positive again.
void respawn_part(const step_params &sp, const canvas &cv, const part &pt) {
    particle *const ps = sp.particles;
    auto respawn = [&](int i) {
        particle *p = &ps[i];
        psys_resetparticle(sp.system, p);
        psys_move_particle(sp.system, sp.scale, p);
        if (cv.buffer != nullptr)
            psys_paint_at(cv.buffer, psys_paint_cell(p->x, p->y, cv.wspan, cv.hspan, cv.width), cv.raised);
    };
    if (!pt.pending_lost) {
        for (int j = 0; j < pt.pending_count; ++j) respawn(pt.pending[j]);
    } else {
        for (int i = pt.hi - 1; i >= pt.lo; --i)
            if (ps[i].life == -1) respawn(i);
    }
}

// ---------------------------------------------------------------------------
// One build of the sweep per instruction set, chosen when the step runs. The
// step on one thread sweeps the array as one part; the step on a pool sweeps
// many parts, and finishes the starfield re-placements they put off.

using sweep_fn = void (*)(const step_params &, const canvas &, part &);
using place_fn = void (*)(const step_params &, const canvas &, const deferred *, size_t, unsigned char *);
struct step_fns {
    sweep_fn sweep;
    place_fn place;  // kernel::place_back, for the starfield only
};

// The whole step on one thread: one part, the painting, the respawns.
void step_alone(const step_params &sp, const canvas &cv, step_fns fns) {
    part pt;
    pt.lo = 0;
    pt.hi = sp.count;
    {
        std::optional<random_lease> draws;  // for a law that re-places; handed back before the respawns draw
        if (fns.place != nullptr) pt.draws = &draws.emplace();
        fns.sweep(sp, cv, pt);
    }
    if (cv.buffer != nullptr) {
#if defined(__x86_64__)
        _mm_sfence();  // the streamed indices are seen by the loads below
#endif
        // A pass of its own: interleaved with the stream of records, the
        // scattered updates would find the buffer pushed out of the caches.
        psys_paint_cells(cv.buffer, cv.cells, 0, sp.count, cv.raised);
    }
    respawn_part(sp, cv, pt);
}

#if defined(__x86_64__)
// Every processor with these AVX-512 sets also fetches for writing (prfchw).
#define AVX512_BUILD __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw,prfchw"), flatten))
#define AVX2_BUILD __attribute__((target("avx2,fma"), flatten))
template <law L>
AVX512_BUILD void sweep_avx512(const step_params &sp, const canvas &cv, part &pt) {
    kernel<8, L>::sweep(sp, cv, pt);
}
AVX512_BUILD void place_avx512(const step_params &sp, const canvas &cv, const deferred *d, size_t n, unsigned char *into) {
    kernel<8, law::stf>::place_back(sp, cv, d, n, into);
}
template <law L>
AVX2_BUILD void sweep_avx2(const step_params &sp, const canvas &cv, part &pt) {
    kernel<4, L>::sweep(sp, cv, pt);
}
AVX2_BUILD void place_avx2(const step_params &sp, const canvas &cv, const deferred *d, size_t n, unsigned char *into) {
    kernel<4, law::stf>::place_back(sp, cv, d, n, into);
}
template <law L>
__attribute__((flatten)) void sweep_sse2(const step_params &sp, const canvas &cv, part &pt) {
    kernel<2, L>::sweep(sp, cv, pt);
}
__attribute__((flatten)) void place_sse2(const step_params &sp, const canvas &cv, const deferred *d, size_t n,
                                         unsigned char *into) {
    kernel<2, law::stf>::place_back(sp, cv, d, n, into);
}

template <law L>
step_fns step_for_isa(psys_simd isa) {
    const bool stf = L == law::stf;
    switch (isa) {
    case psys_simd::avx512: return {sweep_avx512<L>, stf ? place_avx512 : nullptr};
    case psys_simd::avx2: return {sweep_avx2<L>, stf ? place_avx2 : nullptr};
    default: return {sweep_sse2<L>, stf ? place_sse2 : nullptr};
    }
}
#elif PSYS_FAST_NEON
template <law L>
__attribute__((flatten)) void sweep_neon(const step_params &sp, const canvas &cv, part &pt) {
    kernel<2, L>::sweep(sp, cv, pt);
}
__attribute__((flatten)) void place_neon(const step_params &sp, const canvas &cv, const deferred *d, size_t n,
                                         unsigned char *into) {
    kernel<2, law::stf>::place_back(sp, cv, d, n, into);
}

template <law L>
step_fns step_for_isa(psys_simd) {
    return {sweep_neon<L>, L == law::stf ? place_neon : nullptr};
}
#else
// No fast step on this processor.
template <law L>
step_fns step_for_isa(psys_simd) {
    return {nullptr, nullptr};
}
#endif

// ---------------------------------------------------------------------------
// The step on a pool of threads. The array is cut into parts of whole blocks
// counted from the top, so each part's blocks and chunks are those of the
// step on one thread, and only the lowest part has the part block at index 0.
// There are many parts per thread, and each thread takes the next one when it
// finishes the last: the owning thread from the top down, the others from the
// bottom up, until they meet. So a thread slowed down (by the law's data or
// by the rest of the machine) does not hold the others up. The owning thread
// notes, before the sweep, what each part needs of its neighbours (their end
// particles as they were before the step), since the neighbours change them
// at the same time.
//
// Every call of random() and rand() stays on the owning thread and in the
// literal step's order. The owning thread sweeps its parts one after the
// other from the top, so it draws their starfield re-placements as it goes;
// the parts below the meeting point put theirs off. Once done sweeping, the
// owning thread draws the coordinates of those, part by part from the top as
// the parts are swept, and any thread then finishes the particles and paints
// them. After the job the owning thread does all respawns, each part's put
// off by its sweep, from the top part down and in descending order within a
// part, and paints them.
//
// Each thread paints into the buffer (the owning thread) or a private buffer
// of its own: once the parts are all taken, it paints whole parts as they are
// swept, skipping the particles whose step finishes later (see PSYS_NO_CELL). Last,
// the private buffers are added into the buffer by bands. Saturating addition
// of amounts of zero or more gives the same byte in any order, so the picture
// is the one painted by one thread.

// Parts per thread: enough that the threads finish close together, few
// enough that each part is long (at 2,000,000 particles on two threads,
// 62,500 particles each).
constexpr int PARTS_PER_THREAD = 16;

// What a threaded step keeps from frame to frame, so that a frame allocates
// only when a list or the buffer outgrows what earlier frames needed.
struct threaded_state {
    std::vector<part> parts;                           // from the top
    std::vector<std::vector<deferred>> replaced;       // per part
    std::vector<std::vector<unsigned char>> canvases;  // thread t > 0 paints into canvases[t - 1]
    std::vector<std::atomic<bool>> swept;              // per part: its sweep is done
};

threaded_state &kept_state() {
    static threaded_state state;
    return state;
}

// The number of threads for n particles: each with at least min_part of them,
// and at least a block.
int thread_count(int n, int threads, int min_part) {
    const int blocks = (n + BLOCK - 1) / BLOCK;
    const int by_size = n / std::max(min_part, 1);
    return std::max(1, std::min({threads, by_size, blocks}));
}

// The work of one frame's sweep job, which the threads share out among
// themselves: sweeping parts, drawing for the re-placements put off (the
// owning thread only, in order), finishing them, and painting.
struct sweep_job {
    const step_params &sp;
    const canvas &cv;
    threaded_state &st;
    sweep_fn sweep;
    place_fn place;
    int parts;
    bool replaces;  // the law re-places particles (starfield)
    // The parts not yet taken, packed as top << 32 | bottom: the owning
    // thread takes them from the top (part `top`), the others from the
    // bottom (part `bottom - 1`), until the two meet.
    std::atomic<unsigned long long> untaken;
    std::atomic<int> drawn{0};       // parts 0 .. drawn - 1 have their coordinates drawn
    std::atomic<int> next_place{0};  // the next part whose re-placements to finish
    std::atomic<int> next_paint{0};  // the next part to paint
    int to_draw = -1;                // the owning thread's copy of `drawn`; -1 while it sweeps
    // The owning thread's draws, held by the job on its thread when the law
    // re-places. Every value drawn writes the lease, so it keeps a cache line
    // apart from the counters the other threads poll.
    alignas(64) std::optional<random_lease> draws;

    sweep_job(const step_params &sp_, const canvas &cv_, threaded_state &st_, step_fns fns, int parts_)
        : sp(sp_),
          cv(cv_),
          st(st_),
          sweep(fns.sweep),
          place(fns.place),
          parts(parts_),
          replaces(fns.place != nullptr),
          untaken(static_cast<unsigned long long>(parts_)) {
        if (replaces)
            draws.emplace();
        else
            drawn = next_place = parts;
    }

    // The next part for the owning thread (from the top) or another (from the
    // bottom); -1 when none is left, with `meet` set to where the two met:
    // the owning thread has swept the parts above it.
    int take(bool from_top, int &meet) {
        unsigned long long ends = untaken.load(std::memory_order_relaxed);
        for (;;) {
            const int top = static_cast<int>(ends >> 32), bottom = static_cast<int>(ends & 0xffffffffu);
            if (top >= bottom) {
                meet = top;
                return -1;
            }
            const unsigned long long next = from_top ? ends + (1ull << 32) : ends - 1;
            if (untaken.compare_exchange_weak(ends, next, std::memory_order_relaxed)) return from_top ? top : bottom - 1;
        }
    }

    // The owning thread's parts are swept one after the other from the top,
    // so its re-placements can be drawn as it goes, in the literal order; the
    // others put theirs off.
    void sweep_part(int p, bool owner) {
        st.parts[p].replaced = owner ? nullptr : &st.replaced[p];
        st.parts[p].draws = owner && replaces ? &*draws : nullptr;
        sweep(sp, cv, st.parts[p]);
#if defined(__x86_64__)
        _mm_sfence();  // the streamed indices are seen by the other threads
#endif
        st.swept[p].store(true, std::memory_order_release);
    }

    // The owning thread, once done sweeping: the coordinates for the parts
    // put off and swept so far, in order.
    void draw_swept() {
        while (to_draw < parts && st.swept[to_draw].load(std::memory_order_acquire)) {
            for (deferred &d : st.replaced[to_draw]) {
                d.x = star_spawn_coord(draws->next());
                d.y = star_spawn_coord(draws->next());
            }
            drawn.store(++to_draw, std::memory_order_release);
        }
    }

    // Finishes the re-placements of one part whose coordinates are drawn;
    // false when there is none to take now.
    bool place_drawn(unsigned char *into) {
        int p = next_place.load(std::memory_order_relaxed);
        if (p >= drawn.load(std::memory_order_acquire)) return false;
        if (!next_place.compare_exchange_strong(p, p + 1, std::memory_order_relaxed)) return true;
        const std::vector<deferred> &list = st.replaced[p];
        if (!list.empty()) place(sp, cv, list.data(), list.size(), into);
        return true;
    }

    // Does some work that is ready for thread t: the owning thread's draws,
    // then a part's re-placements to finish. False when there was none.
    bool help(int t, unsigned char *into) {
        if (t == 0 && to_draw >= 0) draw_swept();
        return place_drawn(into);
    }

    // Helps until done() holds, giving the processor up now and then in case
    // a thread it waits for needs it.
    template <class F>
    void help_until(int t, unsigned char *into, F done) {
        for (unsigned polls = 1; !done(); ++polls) {
            if (help(t, into)) continue;
            workers_relax();
            if (polls % 64 == 0) std::this_thread::yield();
        }
    }

    // Thread t's share: parts to sweep while there are any; then the
    // painting, part by part as they are swept, so that a thread done with
    // the sweep paints while the others finish theirs, and the scattered
    // updates find its buffer in its own caches, not pushed out by the
    // records; last, what is left of the re-placements. The owning thread
    // draws for the parts put off once it is done sweeping.
    void run(int t, unsigned char *into) {
        int meet = 0;
        for (int p; (p = take(t == 0, meet)) >= 0;) sweep_part(p, t == 0);
        if (t == 0 && replaces) {
            to_draw = meet;  // parts above have drawn as they went
            drawn.store(meet, std::memory_order_release);
        }
        if (into != nullptr)
            for (int p; (p = next_paint.fetch_add(1, std::memory_order_relaxed)) < parts;) {
                while (help(t, into)) {
                }
                help_until(t, into, [&] { return st.swept[p].load(std::memory_order_acquire); });
                psys_paint_cells(into, cv.cells, st.parts[p].lo, st.parts[p].hi, cv.raised);
            }
        help_until(t, into, [&] { return next_place.load(std::memory_order_relaxed) >= parts; });
    }
};

void step_threaded(const step_params &sp, const canvas &cv, step_fns fns, workers &pool, int threads) {
    threaded_state &st = kept_state();
    particle *const ps = sp.particles;
    const int n = sp.count;
    const int blocks = (n + BLOCK - 1) / BLOCK;
    const int parts = std::min(blocks, threads * PARTS_PER_THREAD);
    if (st.parts.size() < static_cast<size_t>(parts)) st.parts.resize(static_cast<size_t>(parts));
    if (st.replaced.size() < static_cast<size_t>(parts)) st.replaced.resize(static_cast<size_t>(parts));
    // Atomics cannot be moved, so a longer list is made anew.
    if (st.swept.size() < static_cast<size_t>(parts)) st.swept = std::vector<std::atomic<bool>>(static_cast<size_t>(parts));
    const size_t size = static_cast<size_t>(cv.size);
    if (cv.buffer != nullptr) {
        if (st.canvases.size() < static_cast<size_t>(threads - 1)) st.canvases.resize(static_cast<size_t>(threads - 1));
        for (int t = 0; t < threads - 1; ++t)
            if (st.canvases[t].size() < size) st.canvases[t].resize(size);  // zeros, as the merge leaves them
    }

    // Part p (p = 0 at the top) starts blocks_above(p) blocks below the top.
    auto blocks_above = [&](int p) { return static_cast<int>(static_cast<long long>(p) * blocks / parts); };
    for (int p = 0; p < parts; ++p) {
        part &pt = st.parts[p];
        pt.hi = n - blocks_above(p) * BLOCK;
        pt.lo = p == parts - 1 ? 0 : n - blocks_above(p + 1) * BLOCK;
        pt.ahead = 2 * BLOCK;
        pt.above_x = pt.hi < n ? ps[pt.hi].x : 0;
        pt.above_y = pt.hi < n ? ps[pt.hi].y : 0;
        pt.below = pt.lo > 0 ? ps[pt.lo - 1] : particle{};
        pt.pending_count = 0;
        pt.pending_lost = false;
        pt.out_of_memory = false;
        st.replaced[p].clear();
        st.swept[p].store(false, std::memory_order_relaxed);
    }

    {
        sweep_job job(sp, cv, st, fns, parts);  // its lease is handed back before the respawns draw
        pool.run(threads, [&](int t, int) {
            job.run(t, cv.buffer == nullptr ? nullptr : t == 0 ? cv.buffer : st.canvases[t - 1].data());
        });
    }
    for (int p = 0; p < parts; ++p)
        if (st.parts[p].out_of_memory) throw std::bad_alloc();
    for (int p = 0; p < parts; ++p) respawn_part(sp, cv, st.parts[p]);

    if (cv.buffer == nullptr) return;
    pool.run(threads, [&](int t, int) {
        const size_t lo = size * t / threads, hi = size * (t + 1) / threads;
        for (int k = 0; k < threads - 1; ++k) psys_paint_merge(cv.buffer, st.canvases[k].data(), lo, hi);
    });
}

// The step for the installed law, or none (a null sweep) for a law (or a
// control set) the fast step does not know; then the literal step runs
// instead.
step_fns step_for(const psys *ps, psys_simd isa) {
    const psys_force_fn f = ps->force;
    if (ps->cset[0] == nullptr) return {};
    if (f == psys_frc_gra) return step_for_isa<law::gra>(isa);
    if (f == psys_frc_stf) return step_for_isa<law::stf>(isa);
    if (ps->cset[1] == nullptr) return {};
    if (f == psys_frc_ang) return step_for_isa<law::ang>(isa);
    if (f == psys_frc_oth) return step_for_isa<law::oth>(isa);
    if (f == psys_frc_spr && ps->cset[2] != nullptr) return step_for_isa<law::spr>(isa);
    return {};
}

}  // namespace

psys_simd psys_simd_best() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw"))
        return psys_simd::avx512;
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma")) return psys_simd::avx2;
    return psys_simd::sse2;
#elif PSYS_FAST_NEON
    return psys_simd::neon;
#else
    return psys_simd::none;
#endif
}

int psys_automovep_simd(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                        psys_simd isa, workers *pool, int min_part) {
    if (isa > psys_simd_best()) isa = psys_simd_best();
    const step_fns fns = step_for(ps, isa);
    if (fns.sweep == nullptr) return 0;
    step_params sp;
    sp.system = ps;
    sp.particles = ps->particles;
    sp.count = ps->count;
    sp.scale = SPEED_SCALE / ps->cset[0]->value;
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
    canvas cv{buffer,
              width,
              static_cast<double>(width - 3),
              static_cast<double>(height - 3),
              buffer != nullptr && sp.count > 0 ? frame_cells(sp.count) : nullptr,
              width * height,
              psys_raised(brightness)};
    if (sp.count <= 0) return 1;
    const int threads = pool != nullptr ? thread_count(sp.count, pool->count(), min_part) : 1;
    if (threads > 1)
        step_threaded(sp, cv, fns, *pool, threads);
    else
        step_alone(sp, cv, fns);
    return 1;
}

int psys_automovep_fast(psys *ps) { return psys_automovep_simd(ps, nullptr, 0, 0, 0, psys_simd_best()); }

int psys_automovep_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                         workers *pool) {
    return psys_automovep_simd(ps, buffer, width, height, brightness, psys_simd_best(), pool);
}

void psys_step_and_paint(psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness,
                         workers *pool) {
    if (psys_automovep_paint(ps, buffer, width, height, brightness, pool)) return;
    psys_automovep(ps);
    psys_paint_particles(ps, buffer, width, height, brightness);
}
