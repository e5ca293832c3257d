#include "particles/psys-fast.h"

int psys_automovep_fast(psys *) { return 0; }
