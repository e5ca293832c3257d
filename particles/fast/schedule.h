// Who sweeps which part of the array, and when the painting and the
// respawns follow: the step on one thread, or shared among a pool's threads.
#pragma once

#include "particles/fast/state.h"
#include "particles/fast/step.h"

struct workers;

namespace fast {

// The whole step with the given build: on the pool's threads when there is a
// pool of more than one and st.min_part particles for each of two threads,
// else on this thread. Throws std::bad_alloc, on this thread, when memory for
// its lists runs out.
void step(const step_params &sp, const canvas &cv, const law_build &build, kept &st, workers *pool);

}  // namespace fast
