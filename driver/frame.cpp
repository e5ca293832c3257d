#include "driver/frame.h"

#include "particles/psys-fast.h"
#include "particles/psys-rules.h"

void paint_particles(const psys *ps, gfx *g, unsigned char brightness) {
    const double wspan = g->width - 3;
    const double hspan = g->height - 3;
    const int width = g->width;
    unsigned char *buffer = g->buffer;
    const particle *p = ps->particles;
    for (int i = 0, n = ps->count; i < n; ++i) {
        unsigned char &cell = buffer[psys_paint_cell(p[i].x, p[i].y, wspan, hspan, width)];
        const unsigned sum = cell + brightness;
        cell = static_cast<unsigned char>(sum > 255 ? 255 : sum);
    }
}

void move_and_paint_particles(psys *ps, gfx *g, unsigned char brightness, workers *pool) {
    if (psys_automovep_paint(ps, g->buffer, g->width, g->height, brightness, pool)) return;
    psys_automovep(ps);
    paint_particles(ps, g, brightness);
}

int frame_sleep_us(int64_t elapsed_us) {
    // Formed in single precision as the frame pacing always has; exact for
    // every elapsed time within one period.
    const float left = static_cast<float>(FRAME_PERIOD_US) - static_cast<float>(elapsed_us);
    return left > 0 ? static_cast<int>(left) : 0;
}
