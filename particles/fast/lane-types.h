// The fast step's registers: W doubles to a register, and W particle records
// as one register per word of the record. The primitives on them are written
// once per instruction set (lanes-avx512.h, lanes-avx2.h, lanes-sse2.h,
// lanes-neon.h); lanes.h includes the ones this processor has.
#pragma once

// The shared template code takes and returns vectors wider than the baseline
// ABI knows; optimised builds inline all of it into code built for the width,
// and the per-instruction-set functions pass their results by reference.
#pragma GCC diagnostic ignored "-Wpsabi"

// Internal linkage, for each build of the sweep: the primitives are then
// inlined into the flattened sweeps.
namespace {

template <int W>
struct lanes {
    typedef double d __attribute__((vector_size(8 * W)));
    typedef long long m __attribute__((vector_size(8 * W)));
};
using d8 = lanes<8>::d;
using d4 = lanes<4>::d;
using d2 = lanes<2>::d;

// The lanes of D as 64-bit integers.
template <class D>
using words = typename lanes<sizeof(D) / sizeof(double)>::m;

// W consecutive particles, one register per word of the record; life holds
// the fifth word's bits.
template <class D>
struct chunk {
    D x, y, vx, vy, life;
};

// A life as the high half of a 64-bit word, to compare with a fifth word
// shifted up by 32 bits.
constexpr long long life_word(int v) {
    return static_cast<long long>(static_cast<unsigned long long>(static_cast<unsigned>(v)) << 32);
}

}  // namespace
