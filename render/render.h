// The blur renderer: blurs the intensity buffer in place and colours it into the image.
#pragma once

#include <cstdint>
#include <vector>

#include "display/gfx-x.h"

struct workers;

// What the normal renderer keeps from call to call when it runs in bands: the
// copies of the rows under every band but the last. Its owner (the one of the
// pool) makes it before the first frame and keeps it for the run; the renderer
// grows it, on the calling thread, only for a larger picture or more bands.
struct render_rows {
    std::vector<unsigned char> kept;
};

// The normal renderer runs in bands on `pool` when there is one with more than
// one thread and the picture is large enough; `rows` holds the rows the bands
// share (without it they are allocated for the call). Every other renderer,
// and every call without a pool, runs on the calling thread. The picture is
// the same either way.
void render_blurred_buffer(gfx *g, workers *pool = nullptr, render_rows *rows = nullptr);
void render32_norm(gfx *g, workers *pool = nullptr, render_rows *rows = nullptr);
void render32_alt(gfx *g);
// The normal renderer with its rows cut into `bands` bands that run side by side on
// the pool (one band without a pool; at most one per thread and per row). Exactly
// the single-threaded pass, whatever the bands. The other entry points choose the
// bands themselves: as many as the pool has threads, on pictures large enough.
void render32_norm_bands(gfx *g, int bands, workers *pool = nullptr, render_rows *rows = nullptr);
void doloop(unsigned char *cell, int height, int width, uint32_t *pixel, const unsigned long *cmap);
// The intensity buffer: allocated zero-filled at width x height (1, or 0 when
// there is no memory for it, buffer then null) and freed again; the display's
// set-up, its resize and its cleanup call these two and nothing else does.
int setup_back_buff(gfx *g);
void release_back_buff(gfx *g);
