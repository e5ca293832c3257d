// The fast step's division by a fixed divisor without a division, against
// plain division, bit for bit, in every set of lanes this machine runs.
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

template <class D>
void divide_all(const std::vector<double> &a, std::vector<double> &q, double b) {
    const divisor<D> dv(b);
    constexpr size_t W = sizeof(D) / 8;
    for (size_t i = 0; i + W <= a.size(); i += W) {
        D v;
        memcpy(&v, &a[i], sizeof v);
        const D r = divide(v, dv);
        memcpy(&q[i], &r, sizeof r);
    }
}
#if defined(__x86_64__)
AVX512 __attribute__((flatten)) void divide8(const std::vector<double> &a, std::vector<double> &q, double b) {
    divide_all<d8>(a, q, b);
}
AVX2 __attribute__((flatten)) void divide4(const std::vector<double> &a, std::vector<double> &q, double b) {
    divide_all<d4>(a, q, b);
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
    std::vector<double> want(a.size()), got(a.size());
    // Divisors whose quotients the product gives, and two it must leave to division.
    for (double b : {STAR_DRIVE, 30.0, 1.5, -3.0, 0x1.8p-100, 7 * 0x1p90, 0.1, 0x1p-120 * 3}) {
        for (size_t i = 0; i < a.size(); ++i) want[i] = a[i] / b;
        const auto check = [&](const char *lanes) {
            for (size_t i = 0; i < a.size(); ++i)
                if (memcmp(&want[i], &got[i], sizeof(double)) != 0) {
                    ADD_FAILURE() << lanes << ": " << a[i] << " / " << b << " gave " << got[i] << ", not " << want[i];
                    return;
                }
        };
#if defined(__x86_64__)
        if (psys_simd_best() >= psys_simd::avx512) divide8(a, got, b), check("eight lanes");
        if (psys_simd_best() >= psys_simd::avx2) divide4(a, got, b), check("four lanes");
#endif
        divide_all<d2>(a, got, b);
        check("two lanes");
    }
}

}  // namespace
