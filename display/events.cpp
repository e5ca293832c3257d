// The drawable's events during the run: a window manager's close request and
// ping, the drawable destroyed under the program, its new sizes, and whether
// any of the picture can be seen. Key presses are left for gfx_getkey.
#include <X11/Xproto.h>
#include <X11/extensions/shmproto.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <new>

#include "display/gfx-x.h"
#include "display/internal.h"
#include "display/x-error-trap.h"
#include "render/render.h"

// During the run, the drawable destroyed under us (our window by another
// client, a screen saver's window by its owner) ends the run; every other
// protocol error keeps the handling it had before the set-up.
struct gfx_run_trap {
    gfx *g;
    int shm_major;  // MIT-SHM's request code, 0 without the extension
    x_error_trap trap;

    explicit gfx_run_trap(gfx *g_) : g(g_), shm_major(0), trap(take, this) {
        int first_event, first_error;
        if (!XQueryExtension(g->display, "MIT-SHM", &shm_major, &first_event, &first_error)) shm_major = 0;
    }

    bool is_put(const XErrorEvent &e) const {
        return e.request_code == X_PutImage ||
               (shm_major != 0 && e.request_code == shm_major && e.minor_code == X_ShmPutImage);
    }

    static bool take(void *ctx, Display *d, const XErrorEvent &e) {
        gfx_run_trap *t = static_cast<gfx_run_trap *>(ctx);
        if (d != t->g->display) return false;
        if ((e.error_code == BadDrawable || e.error_code == BadWindow) && e.resourceid == t->g->window) {
            t->g->view.lost = 1;
            return true;
        }
        // What else a put into the lost drawable may bring.
        return t->g->view.lost && (e.error_code == BadGC || e.error_code == BadMatch) && t->is_put(e);
    }
};

gfx_run_trap *gfx_start_run_trap(gfx *g) { return new (std::nothrow) gfx_run_trap(g); }
void gfx_end_run_trap(gfx_run_trap *t) { delete t; }

// A screen saver's window can be seen only while it and every window above
// it are mapped: its host window minimised or unmapped hides it as well.
static void look_at_saver(gfx *g) {
    XWindowAttributes attr;
    if (XGetWindowAttributes(g->display, g->window, &attr)) g->view.mapped = attr.map_state == IsViewable;
}

void gfx_watch_saver(gfx *g) {
    // Map and unmap events of every window above it (StructureNotifyMask on
    // a window of another client only adds this client to its listeners).
    Window w = g->window, root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    while (XQueryTree(g->display, w, &root, &parent, &children, &n)) {
        if (children) XFree(children);
        if (parent == 0 || parent == root) break;
        XSelectInput(g->display, parent, StructureNotifyMask);
        w = parent;
    }
    look_at_saver(g);
}

namespace {

Bool not_a_key_press(Display *, XEvent *e, XPointer) { return e->type != KeyPress; }

bool is_root(const gfx *g) { return g->window == RootWindow(g->display, g->vinfo.screen); }

// Reads every pending event but key presses and notes what it tells.
void read_events(gfx *g) {
    gfx_view &v = g->view;
    bool saver_changed = false;
    XEvent ev;
    while (XCheckIfEvent(g->display, &ev, not_a_key_press, nullptr)) {
        const bool own = ev.xany.window == g->window;
        switch (ev.type) {
        case ConfigureNotify:
            // Later sizes overwrite earlier ones, so a drag that sends many
            // costs one new picture.
            if (ev.xconfigure.window == g->window) {
                v.new_width = ev.xconfigure.width;
                v.new_height = ev.xconfigure.height;
            }
            break;
        case MapNotify:
        case UnmapNotify:
            // Of the own window; for a screen saver's window, of it or a window above it.
            if (!g->use_root && own)
                v.mapped = ev.type == MapNotify;
            else if (g->use_root && !is_root(g))
                saver_changed = true;
            break;
        case ReparentNotify:
            if (g->use_root && !is_root(g) && ev.xreparent.window == g->window) {
                gfx_watch_saver(g);
                saver_changed = true;
            }
            break;
        case VisibilityNotify:
            if (own) v.obscured = ev.xvisibility.state == VisibilityFullyObscured;
            break;
        case DestroyNotify:
            if (ev.xdestroywindow.window == g->window) v.lost = 1;
            break;
        case MappingNotify: XRefreshKeyboardMapping(&ev.xmapping); break;
        case ClientMessage:
            if (g->wm_protocols == None || !own || ev.xclient.message_type != g->wm_protocols ||
                ev.xclient.format != 32)
                break;
            if (static_cast<Atom>(ev.xclient.data.l[0]) == g->wm_delete) {
                v.close_asked = 1;
            } else if (static_cast<Atom>(ev.xclient.data.l[0]) == g->wm_ping) {
                // Answered as the window manager's protocol asks: back to the root.
                const Window root = RootWindow(g->display, g->vinfo.screen);
                ev.xclient.window = root;
                XSendEvent(g->display, root, False, SubstructureNotifyMask | SubstructureRedirectMask, &ev);
                XFlush(g->display);
            }
            break;
        default: break;  // pointer and button events are read only so that they do not pile up
        }
    }
    if (saver_changed && !v.lost) look_at_saver(g);
}

int clamp_res(int v) { return v < GFX_MIN_RES ? GFX_MIN_RES : v > GFX_MAX_RES ? GFX_MAX_RES : v; }

// Makes the image and the intensity buffer anew at g's size and releases the
// old ones, which `old` holds. When the new ones cannot be made, the old ones
// stay and 0 is returned. The intensities start at zero; the particles go on
// as they are.
int remake_image(gfx *g, const gfx &old) {
    if (!gfx_resize_ximage(g)) return 0;
    if (!setup_back_buff(g)) {
        gfx_discard_image(g);
        return 0;
    }
    gfx gone = old;
    gfx_discard_image(&gone);
    release_back_buff(&gone);
    gfx_create_cmap(g);
    if (gfx_alpha_bits(g->image)) gfx_fill_black(g);
    return 1;
}

bool same_places(const gfx &a, const gfx &b) {
    if (a.width != b.width || a.height != b.height || a.x_offset != b.x_offset || a.y_offset != b.y_offset ||
        a.extra_places != b.extra_places)
        return false;
    for (int i = 0; i < a.extra_places; ++i)
        if (a.extra_x[i] != b.extra_x[i] || a.extra_y[i] != b.extra_y[i]) return false;
    return true;
}

}  // namespace

void gfx_clear_places(gfx *g) {
    XClearArea(g->display, g->window, g->x_offset, g->y_offset, g->width, g->height, False);
    for (int i = 0; i < g->extra_places; ++i)
        XClearArea(g->display, g->window, g->extra_x[i], g->extra_y[i], g->width, g->height, False);
}

int gfx_close_requested(gfx *g) {
    read_events(g);
    if (g->view.lost) return GFX_DRAWABLE_LOST;
    if (g->view.close_asked) {
        g->view.close_asked = 0;
        return GFX_CLOSE_ASKED;
    }
    return 0;
}

int gfx_visible(gfx *g) {
    read_events(g);
    if (g->use_root && is_root(g)) return 1;
    return g->view.mapped && !g->view.obscured;
}

// The own window gets a picture of its size, within the size limits; a root
// window or a screen saver's sizes and centres the picture as at start.
// Nothing happens while the picture stays as it is (a window manager that
// moves or reparents the window reports the same size).
void gfx_follow_size(gfx *g) {
    read_events(g);
    if (g->view.lost || g->view.new_width <= 0 || g->view.new_height <= 0) return;
    gfx next = *g;
    if (g->use_root) {
        gfx_place_picture(&next, g->view.new_width, g->view.new_height);
    } else {
        next.width = clamp_res(g->view.new_width);
        next.height = clamp_res(g->view.new_height);
    }
    g->view.new_width = g->view.new_height = 0;
    if (same_places(next, *g)) return;
    const gfx old = *g;
    if (next.width != g->width || next.height != g->height) {
        g->width = next.width;
        g->height = next.height;
        if (!remake_image(g, old)) {
            fprintf(stderr, "Unable to resize the picture to %dx%d\n", next.width, next.height);
            *g = old;
            return;
        }
    }
    g->x_offset = next.x_offset;
    g->y_offset = next.y_offset;
    g->extra_places = next.extra_places;
    for (int i = 0; i < next.extra_places; ++i) {
        g->extra_x[i] = next.extra_x[i];
        g->extra_y[i] = next.extra_y[i];
    }
    // The old picture would stay wherever the new one does not cover it.
    if (g->use_root) {
        gfx was = old;
        gfx_clear_places(&was);
    }
}

void gfx_wait(gfx *g, int timeout_ms) {
    if (XPending(g->display) > 0) return;
    pollfd p{ConnectionNumber(g->display), POLLIN, 0};
    // A caught signal ends the poll early; the caller looks at its flag.
    if (poll(&p, 1, timeout_ms) < 0 && errno != EINTR) return;
}
