// The colour table, from the channel masks of an image made in memory.
#include <gtest/gtest.h>

#include <cstdint>

#include "display/gfx-x.h"

namespace {

struct Masks {
    unsigned long r, g, b;
    int depth;
};
constexpr Masks RGB24{0xff0000, 0x00ff00, 0x0000ff, 24};
constexpr Masks RGB16{0xf800, 0x07e0, 0x001f, 16};
constexpr Masks ARGB32{0xff0000, 0x00ff00, 0x0000ff, 32};

struct Table {
    XImage image{};
    gfx g{};
    Table(long base, Masks m) {
        image.red_mask = m.r;
        image.green_mask = m.g;
        image.blue_mask = m.b;
        image.depth = m.depth;
        g.image = &image;
        g.base_color = base;
        gfx_create_cmap(&g);
    }
    unsigned long operator[](int i) const { return g.cmap[i]; }
};

TEST(ColourTable, WorkedExamplesOn24BitMasks) {
    const int at[] = {0, 1, 64, 128, 192, 255};
    const unsigned long lilac[] = {0x000000, 0x000001, 0x040040, 0x200c80, 0x6c4ac0, 0xffffff};
    const unsigned long orange[] = {0x000000, 0x010000, 0x400000, 0x800c02, 0xc04a22, 0xffffff};
    Table a(0xccaaff, RGB24), b(0xffaa66, RGB24);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(a[at[k]], lilac[k]) << "0xccaaff entry " << at[k];
        EXPECT_EQ(b[at[k]], orange[k]) << "0xffaa66 entry " << at[k];
    }
}

TEST(ColourTable, SixteenBitMasksGetFiveSixFiveFields) {
    Table t(0xccaaff, RGB16);
    EXPECT_EQ(t[0], 0u);
    EXPECT_EQ(t[128], 0x186fu);
    EXPECT_EQ(t[255], 0xffffu);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i] & ~0xffffUL, 0u) << i;
}

TEST(ColourTable, WhiteIsLinearAndBlackRisesLate) {
    Table white(0xffffff, RGB24), black(0x000000, RGB24);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(white[i], i * 0x010101UL) << i;
    for (int i = 0; i <= 154; ++i) EXPECT_EQ(black[i], 0u) << i;
    EXPECT_NE(black[155], 0u);
    EXPECT_EQ(black[192], 0x0b0b0bu);
    EXPECT_EQ(black[255], 0xffffffu);
}

TEST(ColourTable, BitsAboveTheColourAreIgnored) {
    Table low(0xccaaff, RGB24), high(0x1ccaaff, RGB24), negative(-1, RGB24), white(0xffffff, RGB24);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(high[i], low[i]) << i;
        EXPECT_EQ(negative[i], white[i]) << i;
    }
}

TEST(ColourTable, ChannelWithoutBitsContributesNothing) {
    Table t(0xffffff, {0xff0000, 0x00ff00, 0, 24});
    for (int i = 0; i < 256; ++i) EXPECT_EQ(t[i], i * 0x010100UL) << i;
}

TEST(ColourTable, Depth32SetsTheAlphaBitsInEveryEntry) {
    Table t(0xccaaff, ARGB32), plain(0xccaaff, RGB24);
    for (int i = 0; i < 256; ++i) {
        const uint32_t pixel = static_cast<uint32_t>(t[i]);
        EXPECT_EQ(pixel, 0xff000000u | static_cast<uint32_t>(plain[i])) << i;
        // Entries are 32-bit pixels widened with their sign.
        EXPECT_EQ(t[i], static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(pixel)))) << i;
    }
}

}  // namespace
