// Plain transport (vorbles-plain): the image's pixels live in our own memory
// and every frame travels in an ordinary PutImage request. It keeps nothing
// beside the image, so the record's transport stays null.
#include <cstdio>
#include <cstdlib>

#include "display/gfx-x.h"

int gfx_setup_ximage(gfx *g) {
    g->image = XCreateImage(g->display, g->vinfo.visual, g->vinfo.depth, ZPixmap, 0, nullptr, g->width, g->height, 32,
                            0);
    if (!g->image) return 0;
    g->image->data = static_cast<char *>(calloc(g->image->height, g->image->bytes_per_line));
    if (!g->image->data) {
        XDestroyImage(g->image);
        g->image = nullptr;
        return 0;
    }
    return 1;
}

// Nothing to say at start-up here, so a resize makes the image the same way.
int gfx_resize_ximage(gfx *g) { return gfx_setup_ximage(g); }

void gfx_display_image(gfx *g) {
    XPutImage(g->display, g->window, g->gc, g->image, 0, 0, g->x_offset, g->y_offset, g->width, g->height);
    for (int i = 0; i < g->extra_places; ++i)
        XPutImage(g->display, g->window, g->gc, g->image, 0, 0, g->extra_x[i], g->extra_y[i], g->width, g->height);
    XSync(g->display, False);
}

void gfx_release_image(gfx *g) {
    // Kept as the program has always printed it, although the image is released.
    printf("Not cleaning up anything... ! Yikes!\n");
    XDestroyImage(g->image);
    g->image = nullptr;
}

void gfx_discard_image(gfx *g) {
    XDestroyImage(g->image);
    g->image = nullptr;
}
