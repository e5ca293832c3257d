// What the fast step keeps from frame to frame (state.h, psys_fast_state):
// the builds and thread share it was made with, and room for the buffer
// indices placed as the eight-lane sweep's streaming stores need it, grown
// only for a step that needs more than the ones before.
#include <gtest/gtest.h>

#include <cstdint>

#include "harness.h"
#include "particles/fast/dispatch.h"
#include "particles/fast/state.h"

namespace {

TEST(FastState, KeepsItsBuildsAndTheThreadShare) {
    for (psys_simd isa : isas()) {
        psys_fast_state state(isa, 777);
        EXPECT_EQ(state.kept().builds, fast::builds_for(isa)) << psys_simd_name(isa);
        EXPECT_EQ(state.kept().min_part, 777);
    }
    EXPECT_EQ(psys_fast_state().kept().min_part, PSYS_MIN_PART);
}

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
