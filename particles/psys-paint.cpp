#include "particles/psys-paint.h"

#include <cstring>

void psys_paint_particles(const psys *ps, unsigned char *buffer, int width, int height, unsigned char brightness) {
    const double wspan = width - 3;
    const double hspan = height - 3;
    const particle *p = ps->particles;
    for (int i = 0, n = ps->count; i < n; ++i) {
        unsigned char &cell = buffer[psys_paint_cell(p[i].x, p[i].y, wspan, hspan, width)];
        const unsigned sum = cell + brightness;
        cell = static_cast<unsigned char>(sum > 255 ? 255 : sum);
    }
}

psys_raised::psys_raised(unsigned char brightness) {
    for (unsigned v = 0; v < 256; ++v) of[v] = static_cast<unsigned char>(v + brightness > 255 ? 255 : v + brightness);
}

// Neighbours in the array lie close on the screen, so painting them one after
// the other waits on each byte just written; the pass instead takes the range
// as four stretches and paints one particle of each in turn, whose bytes are
// mostly apart. Painted bytes are saturating sums of amounts of zero or more,
// the same in any order.
void psys_paint_cells(unsigned char *buffer, const int *cell_of, int lo, int hi, const psys_raised &raised) {
    constexpr int STRETCHES = 4;
    const int len = (hi - lo) / STRETCHES;
    for (int i = lo; i < lo + len; ++i)
#pragma GCC unroll 4
        for (int k = 0; k < STRETCHES; ++k)
            if (const int cell = cell_of[i + k * len]; cell != PSYS_NO_CELL) psys_paint_at(buffer, cell, raised);
    for (int i = lo + STRETCHES * len; i < hi; ++i)
        if (cell_of[i] != PSYS_NO_CELL) psys_paint_at(buffer, cell_of[i], raised);
}

// Sixteen bytes at a time, where a sum that wrapped (came out below an
// addend) is made 255.
void psys_paint_merge(unsigned char *buffer, unsigned char *from, size_t lo, size_t hi) {
    typedef unsigned char bytes __attribute__((vector_size(16)));
    size_t c = lo;
    for (; c + 16 <= hi; c += 16) {
        bytes a, b;
        memcpy(&a, buffer + c, sizeof a);
        memcpy(&b, from + c, sizeof b);
        bytes sum = a + b;
        sum |= (bytes)(sum < a);
        memcpy(buffer + c, &sum, sizeof sum);
    }
    for (; c < hi; ++c) {
        const unsigned sum = buffer[c] + from[c];
        buffer[c] = static_cast<unsigned char>(sum > 255 ? 255 : sum);
    }
    memset(from + lo, 0, hi - lo);
}
