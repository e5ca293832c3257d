// Where the picture lies on its drawable: the own window's picture fills it;
// on a root window or a screen saver's window it is sized and centred as on a
// screen of that size, and on a root window spread over several monitors, it
// is sized and centred on one of them and shown, centred, on each of the others.
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include "display/gfx-x.h"

namespace {

bool out_of_range(int v) { return v < GFX_MIN_RES || v > GFX_MAX_RES; }

// The fallback height on a screen: its height cut to a multiple of 256, less
// 256. Screens (or screen-saver windows) under 272 lines would get no lines
// at all from that; they use their whole height, at least the minimum size.
// Either side is held to GFX_MAX_RES, like the own window's size: a screen
// saver's window may be as large as its owner likes, and the picture is then
// centred on it.
int fallback_height(int screen_height) {
    int h = (screen_height & ~0xff) - 256;
    if (h < GFX_MIN_RES) h = screen_height < GFX_MIN_RES ? GFX_MIN_RES : screen_height;
    return h > GFX_MAX_RES ? GFX_MAX_RES : h;
}

int fallback_width(int screen_width) {
    return screen_width < GFX_MIN_RES ? GFX_MIN_RES : screen_width > GFX_MAX_RES ? GFX_MAX_RES : screen_width;
}

struct area {
    int x, y, width, height;
};

// RandR's monitors (version 1.5), the primary one first.
int randr_monitors(Display *d, Window root, area *out, int max) {
    int event_base, error_base, major = 0, minor = 0;
    if (!XRRQueryExtension(d, &event_base, &error_base) || !XRRQueryVersion(d, &major, &minor)) return 0;
    if (major < 1 || (major == 1 && minor < 5)) return 0;
    int n = 0;
    XRRMonitorInfo *m = XRRGetMonitors(d, root, True, &n);
    if (m == nullptr) return 0;
    int kept = 0;
    for (int i = 0; i < n && kept < max; ++i) {
        const area a{m[i].x, m[i].y, m[i].width, m[i].height};
        if (m[i].primary && kept > 0) {
            out[kept++] = out[0];
            out[0] = a;
        } else {
            out[kept++] = a;
        }
    }
    XRRFreeMonitors(m);
    return kept;
}

// Xinerama's heads, in its order.
int xinerama_heads(Display *d, area *out, int max) {
    int event_base, error_base;
    if (!XineramaQueryExtension(d, &event_base, &error_base) || !XineramaIsActive(d)) return 0;
    int n = 0;
    XineramaScreenInfo *h = XineramaQueryScreens(d, &n);
    if (h == nullptr) return 0;
    int kept = 0;
    for (int i = 0; i < n && kept < max; ++i) out[kept++] = {h[i].x_org, h[i].y_org, h[i].width, h[i].height};
    XFree(h);
    return kept;
}

// The monitors of a root window, the one to size the picture on first (the
// primary, else the first). A server that joins several screens with
// Xinerama may tell RandR of the first screen only: the account with more
// monitors is taken.
int root_monitors(Display *d, Window root, area *out, int max) {
    area heads[GFX_MAX_PLACES + 1];
    const int n = randr_monitors(d, root, out, max);
    const int h = xinerama_heads(d, heads, max);
    if (h <= n) return n;
    for (int i = 0; i < h; ++i) out[i] = heads[i];
    return h;
}

}  // namespace

void gfx_place_picture(gfx *g, int dw, int dh) {
    g->extra_places = 0;
    if (!g->use_root) {
        g->x_offset = g->y_offset = 0;
        return;
    }
    area monitors[GFX_MAX_PLACES + 1];
    int n = 0;
    if (g->window == RootWindow(g->display, g->vinfo.screen))
        n = root_monitors(g->display, g->window, monitors, GFX_MAX_PLACES + 1);
    // One monitor or none: the drawable is the screen.
    if (n < 2) {
        n = 1;
        monitors[0] = {0, 0, dw, dh};
    }
    const area &m = monitors[0];
    g->width = out_of_range(g->requested_width) ? fallback_width(m.width) : g->requested_width;
    g->height = out_of_range(g->requested_height) ? fallback_height(m.height) : g->requested_height;
    g->y_offset = m.y + (m.height - g->height) / 2;
    g->x_offset = m.x + (m.width - g->width) / 2;
    for (int i = 1; i < n; ++i) {
        g->extra_x[g->extra_places] = monitors[i].x + (monitors[i].width - g->width) / 2;
        g->extra_y[g->extra_places] = monitors[i].y + (monitors[i].height - g->height) / 2;
        ++g->extra_places;
    }
}
