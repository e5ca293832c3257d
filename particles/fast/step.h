// What one fast step works on: its settings, the buffer it paints, and the
// parts of the array its sweep is cut into. Shared by the builds of the sweep
// (build-*.cpp), the dispatch and the schedule.
#pragma once

#include <cstddef>
#include <vector>

#include "particles/psys-paint.h"
#include "particles/psys2d.h"

class random_lease;

namespace fast {

// Particles per block: a block's columns stay in the first-level cache.
constexpr int BLOCK = 256;
// Deferred respawns whose indices are kept; past that, the respawn phase
// finds them by their life of -1 (see respawn_part in schedule.cpp).
constexpr int PENDING_CAP = 4096;

// What the step reads from the system and the control variables, fixed for
// the whole step.
struct step_params {
    psys *system;
    particle *particles;
    int count;
    double scale;  // SPEED_SCALE / maxspeed: the quotient every normalisation uses
    double k1;     // value of slot 1, for the laws that read it
    double k2;     // value of slot 2, for the spring law
    int damping_on, pull_on, gravity_on;
    double damping, pull_x, pull_y, gravity_x, gravity_y;
};

// The settings of one step of ps, read from it and its control variables.
step_params params_of(psys *ps);

// The intensity buffer, or no buffer when the step does not paint.
struct canvas {
    unsigned char *buffer;
    int width;
    double wspan;  // width - 3, as a double
    double hspan;  // height - 3, as a double
    int *cells;    // room for every particle's buffer index
    int size;      // width * height: the buffer's bytes
    psys_raised raised;
};

// A re-placement put off by a part of a threaded step: the particle, its
// record before the step, and the two random() values drawn for its new
// place, x first.
struct deferred {
    int index;
    particle record;
    long draw_x, draw_y;
};

// A stretch [lo, hi) of the array swept top-down as a whole, with what it
// takes from its neighbours and what it leaves for the respawn phase.
struct part {
    int lo, hi;
    double above_x = 0, above_y = 0;  // particle hi's position before the step, if hi < count
    particle below{};                 // particle lo - 1 before the step, if lo > 0
    // The particles whose life ran out, highest index first; past
    // PENDING_CAP only `pending_lost` is kept.
    int pending[PENDING_CAP];
    int pending_count = 0;
    bool pending_lost = false;
    // Null: re-placements draw their coordinates in the sweep, from `draws`.
    // Else they are put off to here, highest index first, for the owning
    // thread (see place_back in sweep.h).
    std::vector<deferred> *replaced = nullptr;
    bool out_of_memory = false;  // `replaced` could not grow: the step is incomplete
    random_lease *draws = nullptr;
    // How far below the chunk being worked on its records are fetched: one
    // block on one thread; two on a pool, whose threads share the memory and
    // wait longer for it (on one thread two blocks are slower).
    int ahead = BLOCK;
};

// One build of the sweep: for one law, in the lanes of one instruction set.
using sweep_fn = void (*)(const step_params &, const canvas &, part &);
// Finishes the re-placements a part put off, once their draws are made
// (see place_back in sweep.h), painting them into the given buffer.
using place_fn = void (*)(const step_params &, const canvas &, const deferred *, size_t, unsigned char *);
struct law_build {
    sweep_fn sweep;
    place_fn place;  // for a law that re-places particles; else null
};

}  // namespace fast
