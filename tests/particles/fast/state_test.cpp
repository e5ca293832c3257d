// What the fast step keeps from frame to frame (state.h): room for the
// buffer indices placed as the eight-lane sweep's streaming stores need it,
// grown only for a step that needs more than the ones before.
#include <gtest/gtest.h>

#include <cstdint>

#include "particles/fast/state.h"

namespace {

TEST(FastState, CellsEndOnA32ByteBoundaryAndGrowOnlyForMore) {
    fast::kept st{};
    const int *first = nullptr;
    for (int count : {1, 7, 8, 1000, 999, 3, 1000}) {
        int *cells = st.cells_for(count);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(cells + count) % 32, 0u) << count;
        EXPECT_GE(cells, st.cells.data());
        EXPECT_LE(cells + count, st.cells.data() + st.cells.size()) << count;
        if (count == 1000 && first == nullptr) first = st.cells.data();
        if (first != nullptr) {
            EXPECT_EQ(st.cells.data(), first) << "grown again for " << count;
        }
    }
}

}  // namespace
