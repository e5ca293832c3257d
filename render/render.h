// The blur renderer: blurs the intensity buffer in place and colours it into the image.
#pragma once

#include <cstdint>

#include "display/gfx-x.h"

void render_blurred_buffer(gfx *g);
void render32_norm(gfx *g);
void render32_alt(gfx *g);
void doloop(unsigned char *cell, int height, int width, uint32_t *pixel, const unsigned long *cmap);
// The intensity buffer: allocated zero-filled at width x height (1, or 0 when
// there is no memory for it, buffer then null) and freed again; the display's
// set-up, its resize and its cleanup call these two and nothing else does.
int setup_back_buff(gfx *g);
void release_back_buff(gfx *g);
