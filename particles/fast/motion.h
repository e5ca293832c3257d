// The motion step in lanes, restating psys_move with psys_move_particle
// (psys2d.cpp): ageing, damping, centre pull, normalisation, gravity, move and
// walls, for a chunk of particles whose law is done. Fixed particles keep
// their place, life and the velocity the law left them.
#pragma once

#include "particles/fast/constants.h"

namespace {

template <class D>
inline void motion_step(chunk<D> &c, const fast::step_params &sp, const step_constants<D> &k) {
    // Ageing takes one from the low half of the fifth word, where life is;
    // the high half is padding and is kept as read.
    constexpr long long LOW = 0xffffffffLL;
    const auto fixed = life_is(c.life, FIXED_LIFE);
    const words<D> word = (words<D>)c.life;
    c.life = pick(fixed, c.life, (D)((word & ~LOW) | ((word - 1) & LOW)));

    D vx = c.vx, vy = c.vy;
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
    D x = c.x + vx, y = c.y + vy;
    const auto x_hi = gt(x, k.one), x_lo = lt(x, k.zero);
    vx = pick(x_hi, negative_magnitude(vx), pick(x_lo, magnitude(vx), vx));
    x = pick(x_hi, k.one, pick(x_lo, k.zero, x));
    const auto y_hi = gt(y, k.one), y_lo = lt(y, k.zero);
    vy = pick(y_hi, negative_magnitude(vy), pick(y_lo, magnitude(vy), vy));
    y = pick(y_hi, k.one, pick(y_lo, k.zero, y));

    c.x = pick(fixed, c.x, x);
    c.y = pick(fixed, c.y, y);
    c.vx = pick(fixed, c.vx, vx);
    c.vy = pick(fixed, c.vy, vy);
}

}  // namespace
