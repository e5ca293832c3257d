#include "particles/random-lease.h"

#if defined(__GLIBC__)
// The spare states are of the smallest kind, which takes no draws to set up.
random_lease::random_lease() : draws_{} {
    random_data aside{};
    initstate_r(1, for_random_, sizeof for_random_, &aside);
    initstate_r(1, for_lease_, sizeof for_lease_, &draws_);  // draws_ stands on for_lease_
    held_ = setstate(for_random_);                           // random() stands aside; held_ records its place
    setstate_r(held_, &draws_);                              // the lease goes on from that place
}

random_lease::~random_lease() {
    setstate_r(for_lease_, &draws_);  // records the lease's place in held_
    setstate(held_);                  // random() goes on from there
}
#else
random_lease::random_lease() = default;
random_lease::~random_lease() = default;
#endif
