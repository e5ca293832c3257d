// The blur renderer against a cell-by-cell reference of its rules, on real
// in-memory XImages of 32, 16 and 8 bits per pixel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "pool/workers.h"
#include "render/render.h"

// Built twice: as the program has it, and held to the x86-64 baseline.
#ifdef VORBLES_RENDER_NO_AVX512
#define SUITE(name) name##Baseline
#else
#define SUITE(name) name
#endif

namespace {

enum class kind { norm, alt, per_pixel };
constexpr unsigned char sentinel = 0xaa;  // fills fresh images; no table entry looks like it

// Every entry is odd with its sign bit set, so it is widened with ones above bit 31
// and its low 8, 16 and 32 bits never match the sentinel.
struct table {
    unsigned long e[256];
    table() {
        for (unsigned i = 0; i < 256; ++i)
            e[i] = static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(0x80000001u | i << 1 | i << 9 |
                                                                                     i << 17)));
    }
};

struct image {
    XImage im{};
    std::vector<unsigned char> mem;
    // The byte order is an X server's: LSBFirst for the servers of x86 and
    // most others, MSBFirst for a big-endian one.
    image(int w, int h, int bpp, int bpl = 0, int order = LSBFirst) {
        im.width = w, im.height = h, im.format = ZPixmap;
        im.byte_order = im.bitmap_bit_order = order;
        im.bitmap_unit = im.bitmap_pad = 32;
        im.depth = bpp == 32 ? 24 : bpp, im.bits_per_pixel = bpp;
        im.bytes_per_line = bpl ? bpl : (w * bpp + 31) / 32 * 4;
        mem.assign(static_cast<size_t>(im.bytes_per_line) * h, sentinel);
        im.data = reinterpret_cast<char *>(mem.data());
        EXPECT_NE(XInitImage(&im), 0);
    }
    // The pixel's value, its bytes read in the image's byte order.
    uint64_t px(int x, int y) const {
        const unsigned char *p = mem.data() + static_cast<size_t>(y) * im.bytes_per_line + x * im.bits_per_pixel / 8;
        const int n = im.bits_per_pixel / 8;
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint64_t(p[im.byte_order == LSBFirst ? i : n - 1 - i]) << 8 * i;
        return v;
    }
};

struct scene {
    int w, h;
    std::vector<unsigned char> cells;
    table t;
    image img;
    gfx g{};
    workers *pool = nullptr;  // the normal renderer's bands run on it
    render_rows kept;
    render_rows *rows = &kept;
    scene(int w_, int h_, int bpp, int bpl = 0, int order = LSBFirst)
        : w(w_), h(h_), cells(static_cast<size_t>(w_) * h_), img(w_, h_, bpp, bpl, order) {
        g.width = w, g.height = h, g.image = &img.im, g.buffer = cells.data();
        std::memcpy(g.cmap, t.e, sizeof t.e);
    }
    int at(int x, int y) const { return cells[static_cast<size_t>(y) * w + x]; }
    std::vector<int> row(int y) const { return {cells.begin() + y * w, cells.begin() + (y + 1) * w}; }
};

// The expected outcome of one pass, straight from the rules: the new cells and, per
// pixel, the value written or -1 for a pixel left alone.
struct outcome {
    std::vector<unsigned char> cells;
    std::vector<int64_t> pix;
};

outcome reference(kind k, std::vector<unsigned char> b, int w, int h, const unsigned long *cmap) {
    std::vector<int64_t> pix(b.size(), -1);
    auto c = [&](int x, int y) { return y < 0 ? 0 : int(b[y * w + x]); };  // zeros above row 0
    for (int y = 0; y < (k == kind::alt ? h - 2 : h - 1); ++y)
        for (int x = 1; x < w - 1; ++x) {
            int v = k == kind::norm  ? c(x, y) + c(x - 1, y + 1) + c(x, y + 1) + c(x + 1, y + 1)
                    : k == kind::alt ? c(x - 1, y) + c(x + 1, y) + c(x - 1, y - 1) + c(x + 1, y - 1)
                                     : c(x - 1, y) + c(x, y) + c(x + 1, y) + c(x, y + 1);
            v >>= 2;
            b[y * w + x] = static_cast<unsigned char>(v);
            pix[y * w + x] = k == kind::per_pixel ? int64_t(cmap[v] & 0xffffffff) : int64_t(uint32_t(cmap[v]));
        }
    if (k == kind::alt)  // cleared to the colour of intensity 0
        for (int x = 0; x < w; ++x) pix[(h - 2) * w + x] = int64_t(uint32_t(cmap[0]));
    else
        for (int x = 1; x < w; ++x) b[(h - 1) * w + x] >>= 1;
    return {std::move(b), std::move(pix)};
}

// Runs one pass through render_blurred_buffer, or the normal renderer in that many
// bands, and checks every cell, every pixel (written ones against the reference,
// the others unchanged) and the row padding.
void pass_and_check(scene &s, kind k, int bands = 0) {
    s.g.alt_renderer = k == kind::alt;
    const image before = s.img;
    const outcome want = reference(k, s.cells, s.w, s.h, s.g.cmap);
    if (bands)
        render32_norm_bands(&s.g, bands, s.pool, s.rows);
    else
        render_blurred_buffer(&s.g, s.pool, s.rows);
    ASSERT_EQ(s.cells, want.cells);
    const uint64_t mask = s.img.im.bits_per_pixel == 32 ? 0xffffffff : (1u << s.img.im.bits_per_pixel) - 1;
    for (int y = 0; y < s.h; ++y)
        for (int x = 0; x < s.w; ++x) {
            const int64_t p = want.pix[y * s.w + x];
            ASSERT_EQ(s.img.px(x, y), p < 0 ? before.px(x, y) : uint64_t(p) & mask) << x << "," << y;
        }
    const size_t used = size_t(s.w) * s.img.im.bits_per_pixel / 8;
    for (int y = 0; y < s.h; ++y)
        for (size_t i = used; i < size_t(s.img.im.bytes_per_line); ++i)
            ASSERT_EQ(s.img.mem[y * s.img.im.bytes_per_line + i], sentinel);
}

TEST(SUITE(NormalRenderer), WorkedExamples) {
    scene s(5, 4, 32);
    s.cells[2 * 5 + 2] = 200;
    pass_and_check(s, kind::norm);
    EXPECT_EQ(s.row(0), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(s.row(1), (std::vector<int>{0, 50, 50, 50, 0}));
    EXPECT_EQ(s.row(2), (std::vector<int>{0, 0, 50, 0, 0}));
    EXPECT_EQ(s.row(3), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(s.img.px(2, 1), s.t.e[50] & 0xffffffff);
    EXPECT_EQ(s.img.px(1, 0), s.t.e[0] & 0xffffffff);

    scene bottom(5, 4, 32);
    bottom.cells[3 * 5 + 2] = 200;
    pass_and_check(bottom, kind::norm);
    EXPECT_EQ(bottom.row(2), (std::vector<int>{0, 50, 50, 50, 0}));
    EXPECT_EQ(bottom.at(2, 3), 100);

    // Uniform fields keep their level except in the bottom row.
    for (int level : {100, 255}) {
        scene u(6, 5, 32);
        std::fill(u.cells.begin(), u.cells.end(), level);
        pass_and_check(u, kind::norm);
        for (int y = 0; y < 4; ++y) EXPECT_EQ(u.row(y), std::vector<int>(6, level));
        EXPECT_EQ(u.row(4), (std::vector<int>{level, level / 2, level / 2, level / 2, level / 2, level / 2}));
    }

    // Dim isolated light vanishes in one pass.
    for (int level : {1, 2, 3}) {
        scene d(7, 6, 32);
        d.cells[2 * 7 + 3] = static_cast<unsigned char>(level);
        pass_and_check(d, kind::norm);
        EXPECT_EQ(d.cells, std::vector<unsigned char>(42, 0));
    }
}

TEST(SUITE(AlternativeRenderer), WorkedExample) {
    scene s(5, 6, 32);
    s.cells[2 * 5 + 2] = 200;
    pass_and_check(s, kind::alt);
    EXPECT_EQ(s.row(0), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(s.row(1), (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(s.row(2), (std::vector<int>{0, 50, 12, 3, 0}));
    EXPECT_EQ(s.row(3), (std::vector<int>{0, 3, 14, 6, 0}));
    for (int x = 0; x < 5; ++x) EXPECT_EQ(s.img.px(x, 4), uint32_t(s.g.cmap[0]));
}

// Counts XPutPixel calls by wrapping the image's own put_pixel.
std::vector<std::pair<int, int>> puts;
int (*real_put)(XImage *, int, int, unsigned long);
int counting_put(XImage *im, int x, int y, unsigned long p) {
    puts.emplace_back(x, y);
    return real_put(im, x, y, p);
}

TEST(SUITE(PerPixelRenderer), WorkedExampleWithNinePuts) {
    scene s(5, 4, 16);
    s.cells[2 * 5 + 2] = 200;
    real_put = s.img.im.f.put_pixel;
    s.img.im.f.put_pixel = counting_put;
    puts.clear();
    pass_and_check(s, kind::per_pixel);
    EXPECT_EQ(s.row(1), (std::vector<int>{0, 0, 50, 12, 0}));
    EXPECT_EQ(s.row(2), (std::vector<int>{0, 50, 62, 15, 0}));
    std::vector<std::pair<int, int>> want;
    for (int y = 0; y < 3; ++y)
        for (int x = 1; x < 4; ++x) want.emplace_back(x, y);
    EXPECT_EQ(puts, want);
}

// Random deposits between passes, as the frame loop paints particles, keep the field busy.
void paint(scene &s, std::mt19937 &rng, int n) {
    for (int i = 0; i < n; ++i) {
        unsigned char &c = s.cells[rng() % s.cells.size()];
        c = static_cast<unsigned char>(std::min<unsigned>(255, c + rng() % 256));
    }
}

TEST(SUITE(Renderers), MatchTheRulesOverManyPassesAndSizes) {
    std::mt19937 rng(7);
    const std::pair<int, int> sizes[] = {{3, 3},  {4, 3},  {5, 7},  {9, 4},   {10, 5},  {17, 6},   {18, 3},  {31, 9},
                                         {33, 8}, {64, 5}, {67, 4}, {523, 5}, {524, 4}, {1041, 3}, {1366, 4}};
    for (auto [w, h] : sizes)
        for (kind k : {kind::norm, kind::alt, kind::per_pixel}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " kind " << int(k));
            scene s(w, h, k == kind::per_pixel ? 16 : 32);
            for (auto &c : s.cells) c = static_cast<unsigned char>(rng());
            for (int pass = 0; pass < 12; ++pass) {
                pass_and_check(s, k);
                paint(s, rng, w * h / 8 + 1);
            }
            // The largest sums: a saturated field.
            std::fill(s.cells.begin(), s.cells.end(), 255);
            pass_and_check(s, k);
        }
}

// Bands on pools of 1 to 7 threads, also more bands than rows, and a picture large
// enough for the dispatcher to split by itself; the last pass without kept rows.
TEST(SUITE(NormalRenderer), BandsOnAPoolMatchTheRules) {
    std::mt19937 rng(5);
    for (int threads : {1, 2, 3, 7}) {
        workers pool(threads);
        for (auto [w, h] : {std::pair{3, 3}, {6, 4}, {17, 7}, {40, 9}, {523, 64}, {640, 620}}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " on " << threads << " threads");
            scene s(w, h, 32);
            s.pool = &pool;
            for (auto &c : s.cells) c = static_cast<unsigned char>(rng());
            for (int pass = 0; pass < 3; ++pass) {
                if (pass == 2) s.rows = nullptr;
                pass_and_check(s, kind::norm, w * h < 100000 ? threads : 0);
                paint(s, rng, w * h / 8 + 1);
            }
        }
    }
}

// The named renderers and the normal renderer's inner loop, each against the rules.
TEST(SUITE(Renderers), NamedEntryPointsAndDoloopFollowTheRules) {
    std::mt19937 rng(11);
    // doloop writes words in the machine's own order: so does an image of that order.
    const int native = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? MSBFirst : LSBFirst;
    for (auto [w, h] : {std::pair{5, 4}, {37, 6}, {600, 5}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        scene a(w, h, 32, 0, native), b(w, h, 32, 0, native);
        for (auto &c : a.cells) c = static_cast<unsigned char>(rng());
        b.cells = a.cells;
        const outcome want = reference(kind::norm, a.cells, w, h, a.g.cmap);
        std::vector<uint32_t> pixels(size_t(w) * h, 0xaaaaaaaa);
        doloop(b.cells.data() + 1, h, w, pixels.data() + 1, b.g.cmap);
        EXPECT_EQ(b.cells, want.cells);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(pixels[i], want.pix[i] < 0 ? 0xaaaaaaaau : uint32_t(want.pix[i])) << i;

        a.g.alt_renderer = 1;  // render32_norm ignores the flag
        const image before = a.img;
        render32_norm(&a.g);
        EXPECT_EQ(a.cells, want.cells);
        for (int i = 0; i < w * h; ++i)
            ASSERT_EQ(a.img.px(i % w, i / w), want.pix[i] < 0 ? before.px(i % w, i / w) : uint64_t(want.pix[i])) << i;

        a.g.alt_renderer = 0;  // render32_alt ignores the flag
        const outcome alt = reference(kind::alt, a.cells, w, h, a.g.cmap);
        render32_alt(&a.g);
        EXPECT_EQ(a.cells, alt.cells);
        for (int i = 0; i < w * h; ++i) {
            if (alt.pix[i] < 0) continue;
            ASSERT_EQ(a.img.px(i % w, i / w), uint64_t(alt.pix[i])) << i;
        }
    }
}

// The 32-bit renderers write every pixel in the image's byte order, whatever
// the machine's: an image for a server of the other order holds the same
// pixels with their bytes reversed.
TEST(SUITE(Renderers), PixelsTakeTheImagesByteOrder) {
    std::mt19937 rng(13);
    for (kind k : {kind::norm, kind::alt}) {
        SCOPED_TRACE(int(k));
        scene lsb(70, 6, 32), msb(70, 6, 32, 0, MSBFirst);  // wide enough for the widest paths
        for (auto &c : lsb.cells) c = static_cast<unsigned char>(rng());
        msb.cells = lsb.cells;
        pass_and_check(lsb, k);
        pass_and_check(msb, k);
        for (size_t i = 0; i < lsb.img.mem.size(); i += 4)
            ASSERT_TRUE(std::equal(lsb.img.mem.begin() + i, lsb.img.mem.begin() + i + 4,
                                   msb.img.mem.rbegin() + (msb.img.mem.size() - i - 4)))
                << "byte " << i;
        const uint32_t e = uint32_t(msb.g.cmap[msb.at(1, 0)]);
        const unsigned char big[4] = {uint8_t(e >> 24), uint8_t(e >> 16), uint8_t(e >> 8), uint8_t(e)};
        EXPECT_TRUE(std::equal(big, big + 4, msb.img.mem.begin() + 4));
    }
}

TEST(SUITE(Renderers), SwitchingBackAndForthRedrawsTheRowAboveTheBottom) {
    scene s(12, 7, 32);
    std::fill(s.cells.begin(), s.cells.end(), 180);
    for (kind k : {kind::norm, kind::alt, kind::norm, kind::alt}) {
        pass_and_check(s, k);
        const bool cleared = s.img.px(5, 5) == uint32_t(s.g.cmap[0]);
        EXPECT_EQ(cleared, k == kind::alt);
    }
}

TEST(SUITE(Renderers), FlagMakesNoDifferenceBelow32Bits) {
    for (int bpp : {16, 8}) {
        scene a(23, 9, bpp), b(23, 9, bpp);
        for (size_t i = 0; i < a.cells.size(); ++i) a.cells[i] = b.cells[i] = static_cast<unsigned char>(i * 37);
        b.g.alt_renderer = 1;
        for (int pass = 0; pass < 3; ++pass) {
            pass_and_check(a, kind::per_pixel);
            render_blurred_buffer(&b.g);
        }
        EXPECT_EQ(a.cells, b.cells);
        EXPECT_EQ(a.img.mem, b.img.mem);
    }
}

TEST(SUITE(Renderers), PaddedRowsKeepTheirPadding) {
    for (kind k : {kind::norm, kind::alt, kind::norm}) {
        scene s(19, 6, 32, 19 * 4 + 12);
        for (size_t i = 0; i < s.cells.size(); ++i) s.cells[i] = static_cast<unsigned char>(i * 53);
        pass_and_check(s, k);
    }
}

// Unsound inputs are left alone: too small a buffer, or an image that cannot hold it.
TEST(SUITE(Renderers), RefuseWhatTheyCannotRender) {
    auto untouched = [](scene &s, auto render) {
        for (size_t i = 0; i < s.cells.size(); ++i) s.cells[i] = static_cast<unsigned char>(i + 1);
        const auto cells = s.cells;
        const auto mem = s.img.mem;
        render(s);
        EXPECT_EQ(s.cells, cells);
        EXPECT_EQ(s.img.mem, mem);
    };
    for (auto [w, h] : {std::pair{2, 5}, {5, 2}, {1, 1}})
        for (int bpp : {32, 16}) {
            scene s(w, h, bpp);
            for (int alt : {0, 1}) {
                s.g.alt_renderer = alt;
                untouched(s, [](scene &t) { render_blurred_buffer(&t.g); });
            }
            untouched(s, [](scene &t) { render32_norm(&t.g); });
            untouched(s, [](scene &t) { render32_alt(&t.g); });
            untouched(s, [](scene &t) {
                doloop(t.cells.data(), t.h, t.w, reinterpret_cast<uint32_t *>(t.img.mem.data()), t.g.cmap);
            });
        }
    scene narrow(8, 6, 16);  // rows of 16 bytes cannot take 8 pixels of 32 bits
    untouched(narrow, [](scene &t) { render32_norm(&t.g); });
    untouched(narrow, [](scene &t) { render32_alt(&t.g); });
    scene small(8, 6, 32);
    small.g.width = 9;
    small.g.height = 5;
    untouched(small, [](scene &t) { render_blurred_buffer(&t.g); });
}

TEST(SUITE(SetupBackBuff), AllocatesAZeroedBuffer) {
    gfx g{};
    g.width = 300, g.height = 7;
    ASSERT_EQ(setup_back_buff(&g), 1);
    EXPECT_EQ(std::vector<unsigned char>(g.buffer, g.buffer + 2100), std::vector<unsigned char>(2100, 0));
    std::free(g.buffer);
    g.width = -3;
    EXPECT_EQ(setup_back_buff(&g), 0);
    EXPECT_EQ(g.buffer, nullptr);
}

}  // namespace
