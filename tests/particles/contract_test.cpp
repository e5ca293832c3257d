// Every product a*b + c must be rounded before the sum, as the rules are
// written; a compiler that fuses the two into one multiply-add (GCC does on
// aarch64 unless told -ffp-contract=off) changes the animation.
#include <gtest/gtest.h>

namespace {

TEST(FloatingPoint, ProductIsRoundedBeforeTheSum) {
    // (1 + 2^-30)(1 - 2^-30) = 1 - 2^-60 rounds to 1, so the sum is 0; fused,
    // it would be -2^-60.
    volatile double a = 1 + 0x1p-30, b = 1 - 0x1p-30, c = -1;
    const double fused_or_not = a * b + c;
    volatile double product = a * b;
    const double rounded_twice = product + c;
    EXPECT_EQ(rounded_twice, 0.0);
    EXPECT_EQ(fused_or_not, rounded_twice);
}

}  // namespace
