// The fast step's division by a fixed divisor without a division, against
// plain division, bit for bit, in every set of lanes this machine runs: divide
// over the dividends it takes, divide_any over any.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "particles/fast/lanes.h"
#include "particles/psys-fast.h"
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

TEST(DivideByProduct, MatchesDivisionOverItsWholeRange) {
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
