// The lane primitives of every set of lanes this machine runs (lanes.h and
// lanes-<isa>.h): records into lanes and back, a life's test, the signs the
// walls set, the buffer indices of the painting, and the division by a fixed
// divisor without a division, against plain division, bit for bit: divide
// over the dividends it takes, divide_any over any.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "harness.h"
#include "particles/fast/lanes.h"
#include "particles/psys-fast.h"
#include "particles/psys-paint.h"
#include "particles/psys-rules.h"

namespace {

template <class D, bool Any>
void divide_all(const std::vector<double> &a, std::vector<double> &q, double b) {
    const divisor<D> dv(b);
    constexpr size_t W = sizeof(D) / 8;
    for (size_t i = 0; i + W <= a.size(); i += W) {
        D v;
        memcpy(&v, &a[i], sizeof v);
        const D r = Any ? divide_any(v, dv) : divide(v, dv);
        memcpy(&q[i], &r, sizeof r);
    }
}
#if defined(__x86_64__)
template <bool Any>
AVX512 __attribute__((flatten)) void divide8(const std::vector<double> &a, std::vector<double> &q, double b) {
    divide_all<d8, Any>(a, q, b);
}
template <bool Any>
AVX2 __attribute__((flatten)) void divide4(const std::vector<double> &a, std::vector<double> &q, double b) {
    divide_all<d4, Any>(a, q, b);
}
#endif

// What a chunk of W records shows in its lanes, and what the primitives make of it.
struct seen {
    double x[8], y[8], vx[8], vy[8];
    unsigned fixed, zero_life;  // lanes whose life is FIXED_LIFE, 0
    alignas(64) int cell[8];
};
constexpr int CELL_WIDTH = 37, CELL_HEIGHT = 23;

// W records in lanes; the lanes seen; vx made |vx| and vy -|vy|, as the walls
// set them; stored back. The buffer indices of their places, skipping the
// lanes in `skip`, with the callers' arithmetic.
template <class D>
void through_lanes(const particle *in, particle *out, seen &s, unsigned skip) {
    chunk<D> c;
    load_lanes(in, c);
    for (int l = 0; l < static_cast<int>(sizeof(D) / 8); ++l)
        s.x[l] = c.x[l], s.y[l] = c.y[l], s.vx[l] = c.vx[l], s.vy[l] = c.vy[l];
    s.fixed = bits(life_is(c.life, FIXED_LIFE));
    s.zero_life = bits(life_is(c.life, 0));
    cells(splat<D>(CELL_WIDTH - 3.0) * c.x + 1.0, splat<D>(CELL_HEIGHT - 3.0) * c.y + 2.0, CELL_WIDTH, skip, s.cell);
    c.vx = magnitude(c.vx);
    c.vy = negative_magnitude(c.vy);
    store_lanes(out, c);
}
#if defined(__x86_64__)
AVX512 __attribute__((flatten)) void through8(const particle *in, particle *out, seen &s, unsigned skip) {
    through_lanes<d8>(in, out, s, skip);
}
AVX2 __attribute__((flatten)) void through4(const particle *in, particle *out, seen &s, unsigned skip) {
    through_lanes<d4>(in, out, s, skip);
}
#endif

TEST(FastLanes, RecordsIntoLanesAndBack) {
    if (isas().empty()) GTEST_SKIP() << "no fast step on this processor: its lanes read a life as a little-endian half";
    using lanes_fn = void (*)(const particle *, particle *, seen &, unsigned);
    std::vector<std::pair<int, lanes_fn>> widths = {{2, through_lanes<d2>}};
#if defined(__x86_64__)
    if (psys_simd_best() >= psys_simd::avx2) widths.push_back({4, through4});
    if (psys_simd_best() >= psys_simd::avx512) widths.push_back({8, through8});
#endif
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> unit(0.0, 1.0), speed(-0.005, 0.005);
    for (auto [w, through] : widths)
        for (int round = 0; round < 64; ++round) {
            // Records with random fields, lives of every kind, and padding
            // (the high half of the fifth word) that looks like a life.
            particle in[9], out[9];
            for (int l = 0; l < 9; ++l) {
                in[l] = {unit(rng), unit(rng), speed(rng), speed(rng), int(rng() % 3) - 1};
                if (rng() % 3 == 0) in[l].life = FIXED_LIFE;
                const int padding = rng() % 2 ? FIXED_LIFE : 0;
                memcpy(reinterpret_cast<char *>(&in[l].life) + 4, &padding, 4);
            }
            memcpy(out, in, sizeof out);
            for (int l = 0; l < w; ++l) out[l].x = out[l].y = -1;  // overwritten by the store
            seen s{};
            const unsigned skip = static_cast<unsigned>(rng()) & ((1u << w) - 1);
            through(in, out, s, skip);
            for (int l = 0; l < w; ++l) {
                SCOPED_TRACE(testing::Message() << w << " lanes, lane " << l);
                EXPECT_EQ(s.x[l], in[l].x);
                EXPECT_EQ(s.y[l], in[l].y);
                EXPECT_EQ(s.vx[l], in[l].vx);
                EXPECT_EQ(s.vy[l], in[l].vy);
                EXPECT_EQ(s.fixed >> l & 1, in[l].life == FIXED_LIFE ? 1u : 0u);
                EXPECT_EQ(s.zero_life >> l & 1, in[l].life == 0 ? 1u : 0u);
                EXPECT_EQ(s.cell[l], skip >> l & 1 ? PSYS_NO_CELL
                                                   : psys_paint_cell(in[l].x, in[l].y, CELL_WIDTH - 3.0,
                                                                     CELL_HEIGHT - 3.0, CELL_WIDTH));
                particle want;
                memcpy(&want, &in[l], sizeof want);  // padding too
                want.vx = std::fabs(want.vx);
                want.vy = -std::fabs(want.vy);
                EXPECT_EQ(memcmp(&out[l], &want, sizeof want), 0) << "record stored back";
            }
            EXPECT_EQ(memcmp(&out[w], &in[w], sizeof in[w]), 0) << w << " lanes: the record after them";
        }
}

TEST(FastLanes, DivideByProductMatchesDivisionOverItsWholeRange) {
    // +0, the edges of the range, random bit patterns within it (every
    // exponent, both signs) and starfield offsets x - 0.5.
    std::vector<double> a = {0.0, 0x1.0000000000001p-700, -0x1.fffffffffffffp699, 0.5, -0.25, 0.0044, 1e-200, 1e200};
    std::mt19937_64 bits(5);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    while (a.size() < 200000) {
        const uint64_t w = bits();
        double v;
        memcpy(&v, &w, sizeof v);
        if (std::fabs(v) > 0x1p-700 && std::fabs(v) < 0x1p700) a.push_back(v);
        a.push_back(unit(bits) - 0.5);
    }
    a.resize(a.size() / 8 * 8);
    // For divide_any also the dividends outside those bounds, here and there
    // among the others: zeros of both signs, subnormals, huge values, infinity, NaN.
    std::vector<double> wild = a;
    const double outside[] = {-0.0, 0.0, 0x1p-1070, -0x1p-1000, 0x1p-700, 0x1p700, -1e300, INFINITY, NAN};
    for (size_t i = 0; i < wild.size(); i += 13) wild[i] = outside[i / 13 % std::size(outside)];
    std::vector<double> want(a.size()), got(a.size());
    // Divisors whose quotients the product gives, and two it must leave to division.
    for (double b : {STAR_DRIVE, 30.0, 1.5, -3.0, 0x1.8p-100, 7 * 0x1p90, 0.1, 0x1p-120 * 3}) {
        for (size_t i = 0; i < a.size(); ++i) want[i] = a[i] / b;
        const auto check = [&](const std::vector<double> &in, const char *lanes) {
            for (size_t i = 0; i < in.size(); ++i)
                if (memcmp(&want[i], &got[i], sizeof(double)) != 0) {
                    ADD_FAILURE() << lanes << ": " << in[i] << " / " << b << " gave " << got[i] << ", not " << want[i];
                    return;
                }
        };
#if defined(__x86_64__)
        if (psys_simd_best() >= psys_simd::avx512) divide8<false>(a, got, b), check(a, "eight lanes");
        if (psys_simd_best() >= psys_simd::avx2) divide4<false>(a, got, b), check(a, "four lanes");
#endif
        divide_all<d2, false>(a, got, b);
        check(a, "two lanes");

        for (size_t i = 0; i < wild.size(); ++i) want[i] = wild[i] / b;
#if defined(__x86_64__)
        if (psys_simd_best() >= psys_simd::avx512)
            divide8<true>(wild, got, b), check(wild, "eight lanes, any dividend");
        if (psys_simd_best() >= psys_simd::avx2) divide4<true>(wild, got, b), check(wild, "four lanes, any dividend");
#endif
        divide_all<d2, true>(wild, got, b);
        check(wild, "two lanes, any dividend");
    }
}

}  // namespace
