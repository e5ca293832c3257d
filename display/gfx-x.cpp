// The connection, the visual, the drawable (an own window or a root window)
// and its graphics context; the set-up and the clean-up. The drawable's
// events are in events.cpp, keys in keys.cpp, the picture's places in
// places.cpp, the colour table in cmap.cpp, the image transport in
// transport-*.cpp.
#include "display/gfx-x.h"

#include <X11/Xatom.h>
#include <poll.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "display/internal.h"
#include "display/x-error-trap.h"
#include "render/render.h"

namespace {

// VisibilityChangeMask beyond the events every own window selects: the
// frame loop rests while the window is fully covered.
const long OWN_WINDOW_EVENTS = KeyPressMask | ButtonPressMask | PointerMotionMask | StructureNotifyMask |
                               VisibilityChangeMask;

// How long the set-up waits for the window manager to map the window.
const int MAP_WAIT_MS = 1000;

bool out_of_range(int v) { return v < GFX_MIN_RES || v > GFX_MAX_RES; }

// Reads the attributes of a window whose id came from outside; an id the
// server does not know gives false instead of Xlib's fatal default handler.
bool window_exists(Display *d, Window w, XWindowAttributes *attr) {
    XSync(d, False);
    x_error_trap trap;
    const Status ok = XGetWindowAttributes(d, w, attr);
    return ok && !trap.refused(d);
}

// The window a screen saver hands us in XSCREENSAVER_WINDOW (decimal or
// 0x-hexadecimal); None when the variable is unset or does not name a window.
Window screensaver_window(Display *d, XWindowAttributes *attr) {
    const char *text = getenv("XSCREENSAVER_WINDOW");
    if (!text || !*text) return None;
    int base = 10;
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text += 2;
    }
    // strtoul would accept a sign and leading blanks; a window id has neither.
    for (const char *c = text; *c; ++c) {
        const int ch = static_cast<unsigned char>(*c);
        if (base == 10 ? !isdigit(ch) : !isxdigit(ch)) return None;
    }
    if (!*text) return None;
    errno = 0;
    unsigned long id = strtoul(text, nullptr, base);
    if (errno || id == 0 || id > 0x1fffffffUL) return None;  // X ids use the low 29 bits
    if (!window_exists(d, static_cast<Window>(id), attr)) return None;
    // Only a window we can draw TrueColor pixels into will do; any other is
    // treated like an id that names no window.
    if (attr->c_class != InputOutput || attr->visual->c_class != TrueColor) return None;
    return static_cast<Window>(id);
}

// The visual for drawing into an existing window: its own, which must be
// TrueColor. Pixels formed for another visual, even one of the same depth,
// would show in the wrong colours on it.
bool match_window_visual(Display *d, const XWindowAttributes *attr, XVisualInfo *vinfo) {
    XVisualInfo want;
    want.visualid = XVisualIDFromVisual(attr->visual);
    int n = 0;
    XVisualInfo *found = XGetVisualInfo(d, VisualIDMask, &want, &n);
    bool ok = false;
    if (found && n > 0 && found[0].c_class == TrueColor) {
        *vinfo = found[0];
        ok = true;
    }
    if (found) XFree(found);
    return ok;
}

// Root-window mode: the root window, or the screen saver's window, with the
// picture centred (on each monitor of a root window that spans several).
bool setup_root(gfx *g) {
    Display *d = g->display;
    g->requested_width = g->width;
    g->requested_height = g->height;
    int screen = DefaultScreen(d);
    XWindowAttributes attr;
    Window target = screensaver_window(d, &attr);
    if (target == None) {
        target = RootWindow(d, screen);
        XGetWindowAttributes(d, target, &attr);
    }
    if (!match_window_visual(d, &attr, &g->vinfo)) {
        // Screen-saver windows are TrueColor by now: this is the root window.
        fprintf(stderr, "Unable to draw on the root window: its visual is not TrueColor\n");
        return false;
    }
    g->window = target;
    g->wm_protocols = g->wm_delete = g->wm_ping = None;
    // The screen's default GC only suits drawables of the root's depth; a
    // screen saver's window gets a GC of its own.
    if (target == RootWindow(d, g->vinfo.screen))
        g->gc = DefaultGC(d, screen);
    else
        g->gc = XCreateGC(d, target, 0, nullptr);
    gfx_place_picture(g, attr.width, attr.height);
    // A new screen size (RandR) or a resized screen-saver window arrives as a
    // ConfigureNotify of the drawable; a screen saver's window destroyed by
    // its owner sends DestroyNotify, on which the run ends; one that is
    // covered or whose host is hidden rests the frame loop.
    if (target == RootWindow(d, g->vinfo.screen)) {
        XSelectInput(d, target, StructureNotifyMask);
    } else {
        XSelectInput(d, target, StructureNotifyMask | VisibilityChangeMask);
        gfx_watch_saver(g);
    }
    return true;
}

// What window managers and desktops read: the size range, that the window
// takes input and starts in the normal state, WM_CLASS, WM_CLIENT_MACHINE
// (XSetWMProperties adds it), _NET_WM_PID, and the title as desktops that
// read UTF-8 names expect it, beside WM_NAME; and the protocols it answers:
// the close request and the ping by which a desktop tells a hung window
// from a busy one.
void set_desktop_properties(gfx *g) {
    char *names[] = {const_cast<char *>("_NET_WM_PID"),      const_cast<char *>("_NET_WM_NAME"),
                     const_cast<char *>("UTF8_STRING"),      const_cast<char *>("WM_PROTOCOLS"),
                     const_cast<char *>("WM_DELETE_WINDOW"), const_cast<char *>("_NET_WM_PING")};
    Atom atoms[6];
    XInternAtoms(g->display, names, 6, False, atoms);
    g->wm_protocols = atoms[3];
    g->wm_delete = atoms[4];
    g->wm_ping = atoms[5];

    XSizeHints size{};
    size.flags = PMinSize | PMaxSize;
    size.min_width = size.min_height = GFX_MIN_RES;
    size.max_width = size.max_height = GFX_MAX_RES;
    XWMHints wm{};
    wm.flags = InputHint | StateHint;
    wm.input = True;
    wm.initial_state = NormalState;
    char instance[] = "vorbles", cls[] = "Vorbles";
    XClassHint hint;
    hint.res_name = instance;
    hint.res_class = cls;
    XSetWMProperties(g->display, g->window, nullptr, nullptr, nullptr, 0, &size, &wm, &hint);
    Atom protocols[] = {g->wm_delete, g->wm_ping};
    XSetWMProtocols(g->display, g->window, protocols, 2);
    const long pid = getpid();
    XChangeProperty(g->display, g->window, atoms[0], XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&pid), 1);
    static const char title[] = "vorbles";
    XChangeProperty(g->display, g->window, atoms[1], atoms[2], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title), sizeof title - 1);
}

int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Takes the event that reports the window mapped (or destroyed) from the
// queue, waiting for it up to MAP_WAIT_MS. A window manager may keep the
// window unmapped (started iconic, on another desktop) for as long as it
// likes; the run then goes on and draws once the window is shown. A caught
// signal ends the wait at once, and the run sequence then ends the run.
void wait_for_map(gfx *g) {
    Display *d = g->display;
    const int64_t deadline = monotonic_ms() + MAP_WAIT_MS;
    XEvent ev;
    while (!XCheckIfEvent(d, &ev, WaitForNotify, reinterpret_cast<XPointer>(g->window))) {
        const int64_t left = deadline - monotonic_ms();
        if (left <= 0) return;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno == EINTR) return;
    }
    if (ev.type == MapNotify) g->view.mapped = 1;
}

// Own-window mode: a top-level window titled "vorbles", normally mapped
// before we return.
bool setup_own_window(gfx *g) {
    Display *d = g->display;
    Window root = RootWindow(d, g->vinfo.screen);
    XSetWindowAttributes attrs;
    attrs.background_pixel = BlackPixel(d, g->vinfo.screen);
    attrs.border_pixel = BlackPixel(d, g->vinfo.screen);
    attrs.backing_store = NotUseful;
    attrs.save_under = False;
    attrs.event_mask = OWN_WINDOW_EVENTS;
    attrs.colormap = XCreateColormap(d, root, g->vinfo.visual, AllocNone);
    const unsigned long mask = CWBackPixel | CWBorderPixel | CWBackingStore | CWSaveUnder | CWEventMask | CWColormap;

    if (out_of_range(g->width)) g->width = g->default_width;
    if (out_of_range(g->height)) g->height = g->default_height;

    g->window = XCreateWindow(d, root, 0, 0, g->width, g->height, 0, g->vinfo.depth, InputOutput, g->vinfo.visual, mask,
                              &attrs);
    if (!g->window) {
        fprintf(stderr, "Unable to create window\n");
        return false;
    }
    set_desktop_properties(g);
    if (!XMapWindow(d, g->window)) {
        fprintf(stderr, "Unable to map windows\n");
        return false;
    }
    XSync(d, False);
    XStoreName(d, g->window, "vorbles");
    wait_for_map(g);
    g->gc = XCreateGC(d, g->window, 0, nullptr);
    // The map event may have been queued before the title went out; make
    // sure the server has it before the first frame.
    XSync(d, False);
    g->x_offset = 0;
    g->y_offset = 0;
    g->extra_places = 0;
    return true;
}

bool is_root(const gfx *g) { return g->window == RootWindow(g->display, g->vinfo.screen); }

// Undoes a set-up that failed half-way: closing the connection also ends
// the own window and its colormap.
int setup_failed(gfx *g) {
    if (g->gc && !is_root(g)) XFreeGC(g->display, g->gc);
    g->gc = nullptr;
    XCloseDisplay(g->display);
    g->display = nullptr;
    return 0;
}

// The set-up of the drawable and the image, under a trap of its protocol
// errors: the first one ends the set-up with one line instead of ending the
// process in Xlib's default handler.
bool setup_drawable_and_image(gfx *g, x_error_trap &trap) {
    if (g->use_root) {
        if (!setup_root(g)) return false;
    } else {
        static const int depths[] = {32, 24, 16, 8};
        int found = 0;
        for (int depth : depths)
            if ((found = XMatchVisualInfo(g->display, DefaultScreen(g->display), depth, TrueColor, &g->vinfo))) break;
        if (!found) {
            fprintf(stderr, "Unable to get a suitable visual\n");
            fprintf(stderr, "A 32,24,16 or 8 bit TrueColor display is required.\n");
            return false;
        }
        g->window = RootWindow(g->display, g->vinfo.screen);
        if (!setup_own_window(g)) return false;
    }
    // The drawable and its graphics context are all the set-up asks of the
    // server before the image (whose attach checks for itself).
    if (trap.refused(g->display)) {
        char what[300];
        trap.describe(g->display, what, sizeof what);
        fprintf(stderr, "The X server refused the set-up: %s\n", what);
        return false;
    }
    if (!gfx_setup_ximage(g)) return false;
    if (!setup_back_buff(g)) {
        gfx_discard_image(g);
        return false;
    }
    return true;
}

}  // namespace

int gfx_SetupGfx(gfx *g) {
    const char *name = getenv("DISPLAY");
    g->display = XOpenDisplay(name);
    if (!g->display) {
        fprintf(stderr, "Unable to open display %s\n", name ? name : "(null)");
        return 0;
    }
    g->gc = nullptr;
    g->image = nullptr;
    g->view = gfx_view{};
    {
        x_error_trap trap;
        if (!setup_drawable_and_image(g, trap)) return setup_failed(g);
    }
    gfx_create_cmap(g);
    if (gfx_alpha_bits(g->image)) gfx_fill_black(g);
    g->run_trap = gfx_start_run_trap(g);
    return 1;
}

// The window's DestroyNotify ends the wait too: a window destroyed before it
// was mapped (by a window manager, say) is never mapped, and the set-up then
// fails on it instead of waiting.
Bool WaitForNotify(Display *, XEvent *e, XPointer arg) {
    const Window w = reinterpret_cast<Window>(arg);
    return (e->type == MapNotify && e->xmap.window == w) || (e->type == DestroyNotify && e->xdestroywindow.window == w);
}

int constrain_res(int *w, int wmin, int wmax, int wrep, int *h, int hmin, int hmax, int hrep) {
    int changed = 0;
    if (*w < wmin || *w > wmax) {
        *w = wrep;
        changed = 1;
    }
    if (*h < hmin || *h > hmax) {
        *h = hrep;
        changed = 1;
    }
    return changed;
}

void gfx_cleanup(gfx *g) {
    // A run on the root window gives the desktop back: the area it drew shows
    // the root's background again (XCloseDisplay below sends it and waits for
    // the server). A screen saver's window is its owner's to clear.
    if (g->use_root && is_root(g)) gfx_clear_places(g);
    gfx_release_image(g);
    release_back_buff(g);
    if (!is_root(g)) XFreeGC(g->display, g->gc);
    XCloseDisplay(g->display);
    g->display = nullptr;
    // After the connection is gone: its last errors still find the trap.
    gfx_end_run_trap(g->run_trap);
    g->run_trap = nullptr;
}
