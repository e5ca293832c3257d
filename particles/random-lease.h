// Drawing a run of random() values on one thread without random()'s lock.
#pragma once

#include <cstdint>
#include <cstdlib>

// While a lease lives, next() returns what random() would, in the same order,
// from the same state, and random() and rand() must not be called: the lease
// holds the library's state and gives it back, advanced by every value
// drawn, when it ends. random() takes a lock for every value, which costs
// several times the draw itself; a step that re-places tens of thousands of
// particles a frame draws through a lease instead. One lease at a time, used
// on the thread that made it.
//
// With the GNU C library the lease moves random()'s state to a
// random_data of its own (setstate hands out the state it leaves, and
// setstate_r goes on from where that left off); elsewhere next() simply calls
// random().
class random_lease {
public:
    random_lease();
    ~random_lease();
    random_lease(const random_lease &) = delete;
    random_lease &operator=(const random_lease &) = delete;

    long next() {
#if defined(__GLIBC__)
        int32_t v;
        random_r(&draws_, &v);
        return v;
#else
        return random();
#endif
    }

private:
#if defined(__GLIBC__)
    // Two states of the generator's own format that nothing draws from: one
    // for random() to stand on while its own is lent out, one for draws_ to
    // stand on before and after. setstate and setstate_r record in the state
    // they leave where it stands, so each needs a state to go to.
    alignas(8) char for_random_[8];
    alignas(8) char for_lease_[8];
    random_data draws_;
    char *held_ = nullptr;  // the state random() was using, lent to draws_
#endif
};
