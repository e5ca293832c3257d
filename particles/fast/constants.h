// The step's numbers, one per lane, made once per sweep from its settings.
#pragma once

#include "particles/fast/lanes.h"
#include "particles/fast/step.h"
#include "particles/psys-rules.h"

namespace {

template <class D>
struct step_constants {
    D zero, half, one, tiny, scale, k1, k2, damping, pull_x, pull_y, gravity_x, gravity_y, top, wspan, hspan;
    D iota;            // lane l holds l
    divisor<D> drive;  // STAR_DRIVE, the starfield push's divisor
    divisor<D> by_k1;  // slot 1's value, the angular law's divisor
    step_constants(const fast::step_params &sp, const fast::canvas &cv)
        : zero{},
          half(splat<D>(CENTRE)),
          one(splat<D>(1.0)),
          tiny(splat<D>(SPRING_NEAR)),
          scale(splat<D>(sp.scale)),
          k1(splat<D>(sp.k1)),
          k2(splat<D>(sp.k2)),
          damping(splat<D>(sp.damping)),
          pull_x(splat<D>(sp.pull_x)),
          pull_y(splat<D>(sp.pull_y)),
          gravity_x(splat<D>(sp.gravity_x)),
          gravity_y(splat<D>(sp.gravity_y)),
          top(splat<D>(sp.count - 1.0)),
          wspan(splat<D>(cv.wspan)),
          hspan(splat<D>(cv.hspan)),
          iota{},
          drive(STAR_DRIVE),
          by_k1(sp.k1) {
        for (int l = 0; l < static_cast<int>(sizeof(D) / sizeof(double)); ++l) iota[l] = l;
    }
};

// The starfield push divides by a product (see divide in lanes.h).
static_assert(divides_by_product(STAR_DRIVE));

}  // namespace
