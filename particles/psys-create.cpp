// Creating the particles: spawned at random, or laid out from the bitmap
// (psys-bitmap.cpp) when there is one.
#include <cstdio>
#include <cstdlib>

#include "particles/psys2d.h"

int psys_create_particles(psys *ps) {
    if (ps->image_path != nullptr) {
        printf("Loading image from %s instead\n", ps->image_path);
        return psys_load_fixed(ps);
    }
    // Zero-filled, so that no fresh particle looks fixed to the reset below.
    ps->particles = static_cast<particle *>(calloc(static_cast<size_t>(ps->count), sizeof(particle)));
    if (ps->particles == nullptr) return 0;
    for (int i = 0; i < ps->count; ++i) psys_resetparticle(ps, &ps->particles[i]);
    return 1;
}
