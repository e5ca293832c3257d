// Painting the particles: where a particle lands in the buffer, the saturating
// add, and the fast step's pieces (indexed pass, merge of a buffer painted
// apart) against the literal painting.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "helpers.h"
#include "particles/psys-paint.h"

namespace {

constexpr int W = 7, H = 6;

TEST(Painting, CornersLandInsideTheBorderAndSumsSaturate) {
    TestSystem s(5);
    s[0] = {0, 0, 0, 0, 1};
    s[1] = {1, 1, 0, 0, 1};
    s[2] = {1, 0, 0, 0, 1};
    s[3] = {0.5, 0.5, 0, 0, 1};
    s[4] = {0.5, 0.5, 0, 0, 1};
    std::vector<unsigned char> buffer(W * H, 0);
    buffer[1 * W + 3] = 250;  // no particle lands in row 1
    psys_paint_particles(&s.ps, buffer.data(), W, H, 200);
    std::vector<unsigned char> want(W * H, 0);
    want[1 * W + 3] = 250;
    want[2 * W + 1] = 200;            // (0, 0): column 1, row 2
    want[(H - 1) * W + W - 2] = 200;  // (1, 1): column w - 2, row h - 1
    want[2 * W + W - 2] = 200;        // (1, 0)
    want[3 * W + 3] = 255;            // two at the centre: 400, held at 255
    EXPECT_EQ(buffer, want);
}

// Each byte ends at min(255, its value + brightness x the particles on it),
// whatever the order: painted by the literal painting, and by the fast
// step's pieces (the indexed pass, with the particles it leaves out painted
// into a buffer apart and merged in).
TEST(Painting, LiteralAndIndexedPaintingSaturateEachByteOnce) {
    constexpr int N = 103;  // every stretch of the indexed pass and a remainder
    TestSystem s(N);
    std::vector<int> on(W * H, 0), cells(N);
    for (int i = 0; i < N; ++i) {
        s[i] = {(i % 5) / 4.0, (i % 3) / 2.0, 0, 0, 1};
        const int cell = static_cast<int>((H - 3) * s[i].y + 2.0) * W + static_cast<int>((W - 3) * s[i].x + 1.0);
        ++on[static_cast<size_t>(cell)];
        cells[static_cast<size_t>(i)] = i % 3 ? cell : PSYS_NO_CELL;  // every third one left out of the pass
    }
    for (unsigned char brightness : {1, 40, 255}) {
        std::vector<unsigned char> literal(W * H), indexed(W * H), apart(W * H, 0), want(W * H);
        for (int c = 0; c < W * H; ++c) {
            literal[c] = indexed[c] = static_cast<unsigned char>(c * 6);
            want[c] = static_cast<unsigned char>(std::min(255, c * 6 % 256 + on[c] * brightness));
        }
        psys_paint_particles(&s.ps, literal.data(), W, H, brightness);
        EXPECT_EQ(literal, want) << int(brightness);
        psys_paint_cells(indexed.data(), cells.data(), 0, N, psys_raised(brightness));
        TestSystem left(35);
        for (int i = 0, k = 0; i < N; i += 3) left[k++] = s[i];
        psys_paint_particles(&left.ps, apart.data(), W, H, brightness);
        psys_paint_merge(indexed.data(), apart.data(), 0, W * H);
        EXPECT_EQ(indexed, want) << int(brightness);
        EXPECT_EQ(apart, std::vector<unsigned char>(W * H, 0)) << "merged buffer not cleared";
    }
}

}  // namespace
