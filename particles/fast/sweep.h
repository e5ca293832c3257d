// The sweep over one part of the particle array: the per-frame step as one
// backward pass, for one law (laws.h) in the lanes of one instruction set.
//
// Under the laws a particle's velocity is changed only by the two pairs it
// belongs to, and both pairs read its position before it moves. So right
// after the pair (i - 1, i) particle i can be aged, damped, normalised, moved
// and bounced. The sweep works on its part block by block from the top down,
// a register of W particles at a time, with the records turned into one
// register per field on loading and back on storing; every value is formed by
// the same operations in the same order as in the literal step, so the result
// is the same to the bit. Each particle's buffer index is kept for the
// painting, which follows the sweep (schedule.cpp).
//
// The generators: re-placements draw random() in descending order of the
// pair during the sweep (or are put off, on a pool, for the owning thread to
// draw in that order), and all of them come before the respawns of the
// motion step, which are therefore deferred to the end of the step and done
// in descending order of index.
#pragma once

#include <cstddef>
#include <cstring>
#include <new>
#include <type_traits>
#include <vector>

#include "particles/fast/constants.h"
#include "particles/fast/motion.h"
#include "particles/fast/step.h"
#include "particles/psys-paint.h"
#include "particles/random-lease.h"

namespace {

using fast::BLOCK;

// The registers hold a particle record as five 8-byte words: x, y, vx, vy and
// a word whose low half is life (the high half is padding, kept as read).
static_assert(sizeof(particle) == 40 && offsetof(particle, y) == 8 && offsetof(particle, vx) == 16 &&
                  offsetof(particle, vy) == 24 && offsetof(particle, life) == 32,
              "particle records are five 8-byte words");

template <int W, class Law>
struct sweep_kernel {
    using d = typename lanes<W>::d;
    using lanes_t = chunk<d>;
    using terms_t = typename Law::template terms<d>;
    using constants = step_constants<d>;
    using part = fast::part;

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

    // The re-placements of a law that makes them: lanes that are a of a pair
    // (index 0 .. count - 2) and have left (Law::leaves) are put back,
    // highest index first, or noted in the part's list of re-placements put
    // off. Returns the lanes put off.
    static unsigned replace(double *x, double *y, int j, int n, const particle *ps, part &pt) {
        const int first = j < 0 ? -j : 0, last = n - 2 - j < W - 1 ? n - 2 - j : W - 1;
        if (first > last) return 0;
        d vx, vy;
        memcpy(&vx, x, sizeof vx);
        memcpy(&vy, y, sizeof vy);
        unsigned out = Law::leaves(vx, vy) & ((2u << last) - (1u << first));
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
            x[lane] = Law::put_back(pt.draws->next());
            y[lane] = Law::put_back(pt.draws->next());
        }
        return put_off;
    }

    // The law's changes to particles j .. j + W - 1 (lane l holds index
    // index[l]): as a of their pair with the particle above, where there is
    // one, then as b of their pair with the particle below.
    static void apply(lanes_t &c, const terms_t &as_a, const terms_t &as_b, const d &index, const constants &k) {
        Law::apply(c, as_a, as_b, lt(index, k.top), gt(index, k.zero), k);
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
        unsigned put_off[BLOCK / W + 1];  // per chunk: lanes whose re-placement is put off

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

    // The records pt.ahead below chunk j, fetched while this block is worked
    // on: a chunk's worth at a time, in the loop with the most work per chunk,
    // since a burst of fetches stalls until it is served. Not below the part.
    // Fetched for writing, since the block stores them back: the lines then
    // arrive owned and the stores need not ask for them again.
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
    // (hi - 1, hi); for a law that re-places, whose pairs pass nothing on,
    // the re-placements instead, from the top down as the literal step draws
    // them.
    static void pair_phase(columns &col, const particle *ps, const block &b, part &pt, int n, const constants &k) {
        if constexpr (Law::REPLACES) {
            for (int j = b.hi - W; j >= b.bottom; j -= W) {
                const int c = j - b.lo + W;
                col.put_off[(c - b.first) / W] = replace(col.x + c, col.y + c, j, n, ps, pt);
            }
        } else {
            for (int c = b.first - 1; c < W + b.m; c += W) col.put_terms(c, Law::pair(col.get(c), col.get(c + 1), k));
        }
    }

    // The motion step for the chunk at column c (particles from j up), which
    // of its lanes are to be respawned, and its buffer indices: PSYS_NO_CELL
    // for the lanes whose step is finished later, respawns and re-placements
    // put off.
    [[gnu::always_inline]] static void finish(columns &col, int c, const lanes_t &chunk, int j, int first,
                                              const fast::step_params &sp, const fast::canvas &cv, const constants &k,
                                              int *cell_of) {
        lanes_t v = chunk;
        const int at = (c - first) / W;
        const unsigned respawn = bits(life_is(v.life, 0));
        col.respawn[at] = respawn;
        motion_step(v, sp, k);
        col.put(c, v);
        if (cell_of != nullptr) {
            unsigned skip = respawn;
            if constexpr (Law::REPLACES) skip |= col.put_off[at];
            if (j >= 0) {
                cells(k.wspan * v.x + 1.0, k.hspan * v.y + 2.0, cv.width, skip, cell_of + j);
            } else {
                for (int l = -j; l < W; ++l)
                    cell_of[j + l] = skip >> l & 1 ? PSYS_NO_CELL
                                                   : psys_paint_cell(v.x[l], v.y[l], cv.wspan, cv.hspan, cv.width);
            }
        }
    }

    // Phase 4: the law and the motion step, chunk by chunk.
    static void law_and_motion(columns &col, const particle *ps, const block &b, const part &pt,
                               const fast::step_params &sp, const fast::canvas &cv, const constants &k, int *cell_of) {
        for (int c = b.first; c < W + b.m; c += W) {
            lanes_t v = col.get(c);
            const int j = b.lo - W + c;
            if (!Law::SPLIT) fetch_ahead(ps, j, pt);
            apply(v, col.get_terms(c), col.get_terms(c - 1), k.iota + static_cast<double>(j), k);
            if constexpr (Law::SPLIT) {
                memcpy(col.vx + c, &v.vx, sizeof(d));
                memcpy(col.vy + c, &v.vy, sizeof(d));
                continue;
            }
            finish(col, c, v, j, b.first, sp, cv, k, cell_of);
        }
        // With long chains of square roots and divisions in the law, the
        // motion step in a loop of its own keeps more chunks in flight.
        if constexpr (Law::SPLIT)
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
                if (pending_count < fast::PENDING_CAP)
                    pt.pending[pending_count++] = j + lane;
                else
                    pending_lost = true;
            }
        }
        pt.pending_count = pending_count;
        pt.pending_lost = pending_lost;
    }

    // Re-placements put off by a part of a threaded step, with their draws
    // made, W at a time: each particle from its record as before the step at
    // the place drawn for it, then the rest of the law (the drive of
    // psys_frc_stf), ageing and the motion step as the sweep does them;
    // stored, and painted into `into` (when the step paints). One whose life
    // runs out now is left to its respawn, which overwrites every field and
    // paints it. The law changes only the particle itself, so no other
    // particle's step read what the sweep left here.
    static void place_back(const fast::step_params &sp, const fast::canvas &cv, const fast::deferred *list,
                           size_t count, unsigned char *into) {
        const constants k(sp, cv);
        for (size_t i = 0; i < count; i += W) {
            const int m = count - i < W ? static_cast<int>(count - i) : W;
            lanes_t c{};
            for (int l = 0; l < m; ++l) {
                const fast::deferred &d = list[i + l];
                // Scattered over the part: fetch the records some chunks ahead.
                if (i + l + 2 * W < count) __builtin_prefetch(&sp.particles[list[i + l + 2 * W].index], 1);
                c.x[l] = Law::put_back(d.draw_x);
                c.y[l] = Law::put_back(d.draw_y);
                c.vx[l] = d.record.vx;
                c.vy[l] = d.record.vy;
                memcpy(reinterpret_cast<char *>(&c.life) + 8 * l, &d.record.life, 8);
            }
            apply(c, terms_t{}, terms_t{}, k.zero, k);  // every one is the a of a pair
            motion_step(c, sp, k);
            for (int l = 0; l < m; ++l) {
                const fast::deferred &d = list[i + l];
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
    static void sweep(const fast::step_params &sp, const fast::canvas &cv, part &pt) {
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

}  // namespace
