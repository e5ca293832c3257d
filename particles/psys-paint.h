// Painting the particles into the intensity buffer: every particle adds the
// brightness to the byte under it, saturating at 255. The frame loop paints
// with psys_paint_particles after the literal step; the fast step paints as
// it goes, with the pieces below.
#pragma once

#include <cstddef>

#include "particles/psys2d.h"

// The intensity-buffer index of a particle at (x, y) in a buffer `width`
// bytes wide, with wspan = width - 3 and hspan = height - 3: positions in
// [0, 1] land in columns 1 .. width - 2 and rows 2 .. height - 1.
inline int psys_paint_cell(double x, double y, double wspan, double hspan, int width) {
    const int column = static_cast<int>(wspan * x + 1.0);
    const int row = static_cast<int>(hspan * y + 2.0);
    return row * width + column;
}

// Every particle of ps painted into the width x height buffer.
void psys_paint_particles(const psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness);

// Byte v with one particle painted on it, min(255, v + brightness), for
// every v: a look-up is quicker than forming the saturated sum.
struct psys_raised {
    unsigned char of[256];
    explicit psys_raised(unsigned char brightness);
};

// One particle painted at buffer index `cell`.
inline void psys_paint_at(unsigned char *buffer, int cell, const psys_raised &raised) {
    buffer[cell] = raised.of[buffer[cell]];
}

// The index the fast step gives a particle it does not paint in its pass (one
// whose step is finished later and which is painted then).
constexpr int PSYS_NO_CELL = -1;

// The particles lo .. hi - 1 painted at their indices cell_of[i] into buffer,
// those at PSYS_NO_CELL left out.
void psys_paint_cells(unsigned char *buffer, const int *cell_of, int lo, int hi, const psys_raised &raised);

// buffer[c] = min(255, buffer[c] + from[c]) for c in [lo, hi), and from[c]
// cleared again: a buffer painted apart added into the buffer.
void psys_paint_merge(unsigned char *buffer, unsigned char *from, size_t lo, size_t hi);
