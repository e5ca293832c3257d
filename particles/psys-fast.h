// The per-frame step restructured for speed, bit-identical to the literal rules.
#pragma once

#include "particles/psys2d.h"

// The literal per-frame step: the force law through the pointer on every
// adjacent pair, last pair first, then psys_move.
void psys_automovep_plain(psys *ps);

// The fast per-frame step. Returns 1 when it has done the step, 0 when it does
// not know the installed law (the caller then takes the literal step).
int psys_automovep_fast(psys *ps);
