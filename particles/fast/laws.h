// The force laws in lanes: one block per law, each restating its literal law
// in psys2d.cpp on W pairs at once, and, at the end, the table of the laws the
// fast step knows. A law that is not in the table runs in the literal step.
//
// The sweep (sweep.h) meets every particle twice: as a of its pair with the
// particle above, and as b of its pair with the particle below. A law splits
// accordingly into
//   terms<D>     what a pair passes on to its two particles;
//   pair(a, b)   those terms, for the pairs of the lanes of a and b;
//   apply(...)   the changes to a chunk's velocities: as a (terms as_a, in the
//                lanes of has_a), then as b (terms as_b, in the lanes of has_b);
//   SPLIT        whether the law has square roots and divisions enough of its
//                own that the sweep gives the motion step a loop apart.
// A law that puts particles elsewhere (the starfield) also has REPLACES,
// leaves(x, y), the lanes it puts back, and put_back(r), a coordinate from a
// random() value; its pairs pass nothing on.
//
// Every value is formed by the same operations in the same order as in the
// literal law, so the result is the same to the bit.
#pragma once

#include "particles/fast/constants.h"
#include "particles/psys-rules.h"
#include "particles/psys2d.h"

namespace {
namespace laws {

// Gravitational, restating psys_frc_gra: both particles subtract the same
// change (ex, ey), made of the difference of the squares.
struct gra {
    static constexpr bool SPLIT = false, REPLACES = false;
    template <class D>
    struct terms {
        D ex, ey;
    };
    template <class D>
    static terms<D> pair(const chunk<D> &a, const chunk<D> &b, const step_constants<D> &) {
        const D dx = a.x - b.x, dy = a.y - b.y;
        const D f = 4.0 / (dx * dx - dy * dy);
        return {dy / f, dx / f};
    }
    template <class D>
    static void apply(chunk<D> &c, const terms<D> &as_a, const terms<D> &as_b, const mask_t<D> &has_a,
                      const mask_t<D> &has_b, const step_constants<D> &) {
        c.vx = pick(has_a, c.vx - as_a.ex, c.vx);
        c.vy = pick(has_a, c.vy - as_a.ey, c.vy);
        c.vx = pick(has_b, c.vx - as_b.ex, c.vx);
        c.vy = pick(has_b, c.vy - as_b.ey, c.vy);
    }
};

// Angular, restating psys_frc_ang: a's velocity over the constant
// (p = vy / k, q = vx / k) nudges a toward the side of its path b lies on
// (turn > 0: one way, else the other) and b the opposite way; both are then
// normalised. Slot 1's value (30 unless changed) is a divisor that divide
// can take as a product; for one it cannot, divide_any divides.
struct ang {
    static constexpr bool SPLIT = true, REPLACES = false;
    template <class D>
    struct terms {
        D p, q, turn;
    };
    template <class D>
    static terms<D> pair(const chunk<D> &a, const chunk<D> &b, const step_constants<D> &k) {
        terms<D> t;
        t.p = divide_any(a.vy, k.by_k1);
        t.q = divide_any(a.vx, k.by_k1);
        t.turn = (b.x - a.x) * t.p - (b.y - a.y) * t.q;
        return t;
    }
    template <class D>
    static void apply(chunk<D> &c, const terms<D> &as_a, const terms<D> &as_b, const mask_t<D> &has_a,
                      const mask_t<D> &has_b, const step_constants<D> &k) {
        {
            const auto turn = gt(as_a.turn, k.zero);
            D ax = pick(turn, c.vx + as_a.p, c.vx - as_a.p);
            D ay = pick(turn, c.vy - as_a.q, c.vy + as_a.q);
            normalise(ax, ay, k.scale);
            c.vx = pick(has_a, ax, c.vx);
            c.vy = pick(has_a, ay, c.vy);
        }
        {
            const auto turn = gt(as_b.turn, k.zero);
            D bx = pick(turn, c.vx - as_b.p, c.vx + as_b.p);
            D by = pick(turn, c.vy + as_b.q, c.vy - as_b.q);
            normalise(bx, by, k.scale);
            c.vx = pick(has_b, bx, c.vx);
            c.vy = pick(has_b, by, c.vy);
        }
    }
};

// Other, restating psys_frc_oth: a is pushed along its offset to b (an axis
// of zero offset counted as 1) in proportion to its own speed; b is left
// alone.
struct oth {
    static constexpr bool SPLIT = false, REPLACES = false;
    template <class D>
    struct terms {
        D ux, uy;
    };
    template <class D>
    static terms<D> pair(const chunk<D> &a, const chunk<D> &b, const step_constants<D> &k) {
        const D dx = b.x - a.x, dy = b.y - a.y;
        return {pick(eq(dx, k.zero), k.one, dx), pick(eq(dy, k.zero), k.one, dy)};
    }
    template <class D>
    static void apply(chunk<D> &c, const terms<D> &as_a, const terms<D> &, const mask_t<D> &has_a, const mask_t<D> &,
                      const step_constants<D> &k) {
        D speed = c.vx * c.vx + c.vy * c.vy;
        root(speed);
        c.vx = pick(has_a, as_a.ux * k.k1 * speed + c.vx, c.vx);
        c.vy = pick(has_a, as_a.uy * k.k1 * speed + c.vy, c.vy);
    }
};

// Spring, restating psys_frc_spr: the offset from b to a times the force
// (fx, fy, an eighth for a fixed a) pulls the two together, and a alone is
// normalised; closer than SPRING_NEAR (dist) both reverse horizontally
// instead.
struct spr {
    static constexpr bool SPLIT = true, REPLACES = false;
    template <class D>
    struct terms {
        D fx, fy, dist;
    };
    template <class D>
    static terms<D> pair(const chunk<D> &a, const chunk<D> &b, const step_constants<D> &k) {
        const D dx = a.x - b.x, dy = a.y - b.y;
        D dist = dx * dx + dy * dy;
        root(dist);
        const D e = (dist - k.k2) * k.k1;
        const D ef = pick(life_is(a.life, FIXED_LIFE), e * SPRING_FIXED_FACTOR, e);
        return {dx * ef, dy * ef, dist};
    }
    template <class D>
    static void apply(chunk<D> &c, const terms<D> &as_a, const terms<D> &as_b, const mask_t<D> &has_a,
                      const mask_t<D> &has_b, const step_constants<D> &k) {
        {
            const auto near = lt(as_a.dist, k.tiny);
            D ax = c.vx - as_a.fx, ay = c.vy - as_a.fy;
            normalise(ax, ay, k.scale);
            c.vx = pick(has_a, pick(near, -c.vx, ax), c.vx);
            c.vy = pick(has_a, pick(near, c.vy, ay), c.vy);
        }
        {
            const auto near = lt(as_b.dist, k.tiny);
            c.vx = pick(has_b, pick(near, -c.vx, c.vx + as_b.fx), c.vx);
            c.vy = pick(has_b, pick(near, c.vy, c.vy + as_b.fy), c.vy);
        }
    }
};

// Starfield, restating psys_frc_stf: an a that has left the inner box is put
// back near the centre (by the sweep, from leaves and put_back), then pushed
// outward by its offset from the centre over STAR_DRIVE and normalised; b is
// left alone.
struct stf {
    static constexpr bool SPLIT = true, REPLACES = true;
    template <class D>
    struct terms {};
    template <class D>
    static terms<D> pair(const chunk<D> &, const chunk<D> &, const step_constants<D> &) {
        return {};
    }
    // One bit per lane whose (x, y) lies outside the open box
    // (STAR_RIM_LO, STAR_RIM_HI) in either coordinate.
    template <class D>
    static unsigned leaves(const D &x, const D &y) {
        const D lo = splat<D>(STAR_RIM_LO), hi = splat<D>(STAR_RIM_HI);
        return bits(gt(x, hi)) | bits(lt(x, lo)) | bits(gt(y, hi)) | bits(lt(y, lo));
    }
    // The new x, then the new y, of a particle put back, each from one random() value.
    static double put_back(long r) { return star_spawn_coord(r); }
    template <class D>
    static void apply(chunk<D> &c, const terms<D> &, const terms<D> &, const mask_t<D> &has_a, const mask_t<D> &,
                      const step_constants<D> &k) {
        // Positions lie in [0, 1], so an offset from CENTRE is +0 or of a
        // size between 2^-54 and 0.5: within what divide takes.
        D ax = c.vx + divide(c.x - CENTRE, k.drive), ay = c.vy + divide(c.y - CENTRE, k.drive);
        normalise(ax, ay, k.scale);
        c.vx = pick(has_a, ax, c.vx);
        c.vy = pick(has_a, ay, c.vy);
    }
};

}  // namespace laws
}  // namespace

// The laws the fast step knows, one line each: the name of its block above
// (and of its builds, psys_sweep_<instruction set>_<name>), the literal law it
// restates, and how many slots of the control set it reads, from slot 0. A
// law joins the fast step with a block above and a line here.
#define PSYS_FAST_LAWS(X)   \
    X(gra, psys_frc_gra, 1) \
    X(ang, psys_frc_ang, 2) \
    X(oth, psys_frc_oth, 2) \
    X(spr, psys_frc_spr, 3) \
    X(stf, psys_frc_stf, 1)
