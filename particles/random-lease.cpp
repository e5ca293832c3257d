#include "particles/random-lease.h"

#if defined(__GLIBC__)
namespace {

// Two states of the generator's own format that nothing draws from: one for
// random() to stand on while its own is lent out, one for a lease to stand on
// before and after. setstate and setstate_r record in the state they leave
// where it stands, so each needs a state to go to.
struct spare_states {
    alignas(8) char for_random[128];
    alignas(8) char for_lease[128];
    random_data lease{};  // standing on for_lease
    spare_states() {
        random_data r{};
        initstate_r(1, for_random, sizeof for_random, &r);
        initstate_r(1, for_lease, sizeof for_lease, &lease);
    }
};

spare_states &spares() {
    static spare_states s;
    return s;
}

}  // namespace

random_lease::random_lease() : draws_(spares().lease) {
    held_ = setstate(spares().for_random);  // random() stands aside; held_ records its place
    setstate_r(held_, &draws_);            // the lease goes on from that place
}

random_lease::~random_lease() {
    setstate_r(spares().for_lease, &draws_);  // records the lease's place in held_
    setstate(held_);                          // random() goes on from there
}
#else
random_lease::random_lease() = default;
random_lease::~random_lease() = default;
#endif
