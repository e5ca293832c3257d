// One build of the sweep for one instruction set: its sweeps, one per law of
// the law table, each named psys_sweep_<isa>_<law> (a name that does not
// depend on how a compiler spells a template, by which tools such as the
// cross build's check find them), and its row of the dispatch table.
// Included once by each build-<isa>.cpp, which first defines
//   PSYS_BUILD_ISA     the instruction set's name, as in psys_sweep_<isa>_<law>
//   PSYS_BUILD_TABLE   its table, declared in builds.h
//   PSYS_BUILD_LANES   doubles to a register
//   PSYS_BUILD_TARGET  the attributes its code is compiled with
#include "particles/fast/builds.h"
#include "particles/fast/sweep.h"

namespace {
template <class Law>
PSYS_BUILD_TARGET void place(const fast::step_params &sp, const fast::canvas &cv, const fast::deferred *list, size_t n,
                             unsigned char *into) {
    sweep_kernel<PSYS_BUILD_LANES, Law>::place_back(sp, cv, list, n, into);
}
template <class Law>
constexpr fast::place_fn place_for() {
    if constexpr (Law::REPLACES) return place<Law>;
    return nullptr;
}
}  // namespace

#define PSYS_BUILD_JOIN(a, b, c) a##b##_##c
#define PSYS_BUILD_NAME(isa, law) PSYS_BUILD_JOIN(psys_sweep_, isa, law)

#define SWEEP(name, law, slots)                                                                                       \
    extern "C" PSYS_BUILD_TARGET void PSYS_BUILD_NAME(PSYS_BUILD_ISA, name)(const fast::step_params &sp,              \
                                                                            const fast::canvas &cv, fast::part &pt) { \
        sweep_kernel<PSYS_BUILD_LANES, laws::name>::sweep(sp, cv, pt);                                                \
    }
PSYS_FAST_LAWS(SWEEP)
#undef SWEEP

#define ROW(name, law, slots) {PSYS_BUILD_NAME(PSYS_BUILD_ISA, name), place_for<laws::name>()},
extern const fast::law_build fast::PSYS_BUILD_TABLE[LAW_COUNT] = {PSYS_FAST_LAWS(ROW)};
#undef ROW
