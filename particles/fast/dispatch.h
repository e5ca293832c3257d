// Which build of the sweep a step takes: the table of an instruction set,
// chosen once per state, and in it the build of the law installed.
#pragma once

#include "particles/fast/step.h"
#include "particles/psys-fast.h"

namespace fast {

// The builds of one instruction set (capped at psys_simd_best()), one per
// law of the law table; null where this processor has no fast step.
const law_build *builds_for(psys_simd isa);

// The build for the law installed in ps, from the table `builds`; null for a
// law, or a control set, that the fast step does not know.
const law_build *build_for(const psys *ps, const law_build *builds);

}  // namespace fast
