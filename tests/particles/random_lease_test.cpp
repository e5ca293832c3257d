// Draws through a lease are random()'s own sequence, and the library's
// generator goes on after them as if random() had made them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "particles/random-lease.h"

namespace {

// Thirty turns of draws: random() and rand() by turns, and every third turn a
// run of five random() values instead, through a lease when `leased`.
std::vector<long> draw(bool leased) {
    std::vector<long> out;
    for (int k = 0; k < 30; ++k) {
        if (k % 3 != 1) {
            out.push_back(k % 2 ? rand() : random());
        } else if (leased) {
            random_lease lease;
            for (int j = 0; j < 5; ++j) out.push_back(lease.next());
        } else {
            for (int j = 0; j < 5; ++j) out.push_back(random());
        }
    }
    return out;
}

TEST(RandomLease, DrawsRandomsSequenceAndHandsTheStateBackAdvanced) {
    for (unsigned seed : {1u, 9u}) {
        // Both the library's default size of state and a larger one.
        for (size_t size : {128u, 256u}) {
            alignas(8) static char state[256];
            char *before = initstate(seed, state, size);
            const std::vector<long> plain = draw(false);
            initstate(seed, state, size);
            const std::vector<long> leased = draw(true);
            setstate(before);
            EXPECT_EQ(plain, leased) << "seed " << seed << ", " << size << " bytes of state";
        }
    }
}

}  // namespace
