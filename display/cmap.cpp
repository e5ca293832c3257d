// The colour table: a pixel value in the image's format for each intensity.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "display/gfx-x.h"

unsigned long gfx_alpha_bits(const XImage *image) {
    if (image->depth != 32) return 0;
    return ~(image->red_mask | image->green_mask | image->blue_mask) & 0xffffffffUL;
}

void gfx_fill_black(gfx *g) {
    XImage *im = g->image;
    for (int x = 0; x < im->width; ++x) XPutPixel(im, x, 0, g->cmap[0]);
    for (int y = 1; y < im->height; ++y)
        memcpy(im->data + static_cast<size_t>(y) * im->bytes_per_line, im->data, im->bytes_per_line);
}

// Each channel rises from 0 to its maximum as a power of the intensity: the
// power is 1 for a channel full in the base colour, 11 for one absent from it.
void gfx_create_cmap(gfx *g) {
    const unsigned long masks[3] = {g->image->red_mask, g->image->green_mask, g->image->blue_mask};
    double exponent[3], max[3];
    int shift[3];
    for (int c = 0; c < 3; ++c) {
        const int b = static_cast<int>((g->base_color >> (16 - 8 * c)) & 0xff);
        exponent[c] = (1.0 - b / 255.0) * 10.0 + 1.0;
        const uint32_t m = static_cast<uint32_t>(masks[c]);
        shift[c] = m ? __builtin_ctz(m) : -1;  // -1: the channel has no bits
        max[c] = m ? static_cast<double>(static_cast<int>(m >> shift[c])) : 0.0;
    }
    const uint32_t alpha = static_cast<uint32_t>(gfx_alpha_bits(g->image));
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        uint32_t pixel = alpha;
        for (int c = 0; c < 3; ++c) {
            if (shift[c] < 0) continue;
            const int v = static_cast<int>(pow(t, exponent[c]) * max[c]);
            pixel |= static_cast<uint32_t>(v) << shift[c];
        }
        // Entries are 32-bit pixels widened with their sign.
        g->cmap[i] = static_cast<unsigned long>(static_cast<long>(static_cast<int32_t>(pixel)));
    }
}
