// The fast step's entry points: the settings of one step, read from the
// system, handed to the build for its law and to the schedule.
#include "particles/psys-fast.h"

#include "particles/fast/dispatch.h"
#include "particles/fast/schedule.h"
#include "particles/fast/state.h"
#include "particles/psys-paint.h"
#include "particles/psys-rules.h"

psys_fast_state::psys_fast_state(psys_simd isa, int min_part)
    : kept_(new fast::kept{}), isa_(isa > psys_simd_best() ? psys_simd_best() : isa) {
    kept_->builds = fast::builds_for(isa);
    kept_->min_part = min_part;
}

psys_fast_state::~psys_fast_state() = default;

fast::step_params fast::params_of(psys *ps) {
    step_params sp;
    sp.system = ps;
    sp.particles = ps->particles;
    sp.count = ps->count;
    sp.scale = SPEED_SCALE / ps->cset[0]->value;
    sp.k1 = ps->cset[1] != nullptr ? ps->cset[1]->value : 0;
    sp.k2 = ps->cset[2] != nullptr ? ps->cset[2]->value : 0;
    sp.damping_on = ps->damping_on;
    sp.pull_on = ps->pull_on;
    sp.gravity_on = ps->gravity_on;
    sp.damping = ps->damping;
    sp.pull_x = ps->pull_x;
    sp.pull_y = ps->pull_y;
    sp.gravity_x = ps->gravity_x;
    sp.gravity_y = ps->gravity_y;
    return sp;
}

int psys_automovep_paint(psys *ps, psys_fast_state *state, unsigned char *buffer, int width, int height,
                         unsigned char brightness, workers *pool) {
    fast::kept &st = state->kept();
    const fast::law_build *build = fast::build_for(ps, st.builds);
    if (build == nullptr) return 0;
    const fast::step_params sp = fast::params_of(ps);
    if (sp.count <= 0) return 1;
    const fast::canvas cv{buffer,
                          width,
                          static_cast<double>(width - 3),
                          static_cast<double>(height - 3),
                          buffer != nullptr ? st.cells_for(sp.count) : nullptr,
                          width * height,
                          psys_raised(brightness)};
    fast::step(sp, cv, *build, st, pool);
    return 1;
}

int psys_automovep_fast(psys *ps, psys_fast_state *state, workers *pool) {
    return psys_automovep_paint(ps, state, nullptr, 0, 0, 0, pool);
}

int psys_step_and_paint(psys *ps, psys_fast_state *state, unsigned char *buffer, int width, int height,
                        unsigned char brightness, workers *pool) {
    if (psys_automovep_paint(ps, state, buffer, width, height, brightness, pool)) return 1;
    psys_automovep(ps);
    psys_paint_particles(ps, buffer, width, height, brightness);
    return 0;
}
