// The blur renderer: blurs the intensity buffer in place and colours it into the image.
#pragma once

#include <cstdint>

#include "display/gfx-x.h"

void render_blurred_buffer(gfx *g);
void render32_norm(gfx *g);
void render32_alt(gfx *g);
void doloop(unsigned char *cell, int height, int width, uint32_t *pixel, const unsigned long *cmap);
int setup_back_buff(gfx *g);
