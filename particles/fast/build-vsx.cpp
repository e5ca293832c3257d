// The sweeps in two lanes of VSX (64-bit little-endian POWER), from the
// compiler's generic vectors, one per law of the law table, each named
// psys_sweep_vsx_<law>: a name that does not depend on how a compiler spells
// a template, by which tools (the cross build's check) find them.
#include "particles/psys-fast.h"
#if PSYS_FAST_VSX
#include "particles/fast/builds.h"
#include "particles/fast/sweep.h"

#define BUILD __attribute__((flatten))

namespace {
template <class Law>
BUILD void place(const fast::step_params &sp, const fast::canvas &cv, const fast::deferred *list, size_t n,
                 unsigned char *into) {
    sweep_kernel<2, Law>::place_back(sp, cv, list, n, into);
}
template <class Law>
constexpr fast::place_fn place_for() {
    if constexpr (Law::REPLACES) return place<Law>;
    return nullptr;
}
}  // namespace

#define SWEEP(name, law, slots)                                                                       \
    extern "C" BUILD void psys_sweep_vsx_##name(const fast::step_params &sp, const fast::canvas &cv, \
                                                  fast::part &pt) {                                   \
        sweep_kernel<2, laws::name>::sweep(sp, cv, pt);                                               \
    }
PSYS_FAST_LAWS(SWEEP)

#define ROW(name, law, slots) {psys_sweep_vsx_##name, place_for<laws::name>()},
extern const fast::law_build fast::VSX_BUILDS[LAW_COUNT] = {PSYS_FAST_LAWS(ROW)};
#endif
