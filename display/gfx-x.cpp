// The connection, visual, drawable and graphics context; key polling, the
// colour table and teardown. The image transport is in transport-*.cpp.
#include "display/gfx-x.h"

#include <X11/Xproto.h>
#include <X11/extensions/shmproto.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <X11/Xatom.h>
#include <poll.h>
#include <unistd.h>

#include "render/render.h"

// Sizes outside this range fall back to a default.
static const int MIN_RES = 16;
static const int MAX_RES = 4096;

static const long OWN_WINDOW_EVENTS = KeyPressMask | ButtonPressMask | PointerMotionMask | StructureNotifyMask;

static int out_of_range(int v) { return v < MIN_RES || v > MAX_RES; }

// Set by the temporary handler of window_exists when the server refuses the id.
static int window_lookup_failed;

static int note_window_error(Display *, XErrorEvent *) {
    window_lookup_failed = 1;
    return 0;
}

// Reads the attributes of a window whose id came from outside; an id the
// server does not know gives 0 instead of Xlib's fatal default handler.
static int window_exists(Display *d, Window w, XWindowAttributes *attr) {
    XSync(d, False);
    window_lookup_failed = 0;
    XErrorHandler old = XSetErrorHandler(note_window_error);
    Status ok = XGetWindowAttributes(d, w, attr);
    XSync(d, False);
    XSetErrorHandler(old);
    return ok && !window_lookup_failed;
}

// The window a screen saver hands us in XSCREENSAVER_WINDOW (decimal or
// 0x-hexadecimal); None when the variable is unset or does not name a window.
static Window screensaver_window(Display *d, XWindowAttributes *attr) {
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
static int match_window_visual(Display *d, const XWindowAttributes *attr, XVisualInfo *vinfo) {
    XVisualInfo want;
    want.visualid = XVisualIDFromVisual(attr->visual);
    int n = 0;
    XVisualInfo *found = XGetVisualInfo(d, VisualIDMask, &want, &n);
    int ok = 0;
    if (found && n > 0 && found[0].c_class == TrueColor) {
        *vinfo = found[0];
        ok = 1;
    }
    if (found) XFree(found);
    return ok;
}

// The fallback height on a screen: its height cut to a multiple of 256, less
// 256. Screens (or screen-saver windows) under 272 lines would get no lines at
// all from that; they use their whole height, at least the minimum size.
// Either is held to MAX_RES, like the own window's size: a screen-saver window
// may be as large as its owner likes, and the picture is then centred on it.
static int root_fallback_height(int screen_height) {
    int h = (screen_height & ~0xff) - 256;
    if (h < MIN_RES) h = screen_height < MIN_RES ? MIN_RES : screen_height;
    return h > MAX_RES ? MAX_RES : h;
}

static int root_fallback_width(int screen_width) {
    return screen_width < MIN_RES ? MIN_RES : screen_width > MAX_RES ? MAX_RES : screen_width;
}

// The picture on a root-mode drawable of dw x dh, at start and whenever the
// drawable changes size: the size the user asked for where it is in range,
// else one taken from the drawable, centred on it.
static void place_on_drawable(const gfx *g, int dw, int dh, int *w, int *h, int *x, int *y) {
    *w = out_of_range(g->requested_width) ? root_fallback_width(dw) : g->requested_width;
    *h = out_of_range(g->requested_height) ? root_fallback_height(dh) : g->requested_height;
    *y = (dh - *h) / 2;
    *x = (dw - *w) / 2;
}

// Root-window mode: the root window, or the screen saver's window, centred.
static int setup_root(gfx *g) {
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
        return 0;
    }
    g->window = target;
    g->wm_delete = None;
    // The screen's default GC only suits drawables of the root's depth; a
    // screen saver's window gets a GC of its own.
    if (target == RootWindow(d, g->vinfo.screen))
        g->gc = DefaultGC(d, screen);
    else
        g->gc = XCreateGC(d, target, 0, nullptr);
    place_on_drawable(g, attr.width, attr.height, &g->width, &g->height, &g->x_offset, &g->y_offset);
    // A new screen size (RandR) or a resized screen-saver window arrives as a
    // ConfigureNotify of the drawable; gfx_close_requested follows it. A
    // screen saver's window destroyed by its owner sends DestroyNotify, on
    // which gfx_close_requested ends the run.
    XSelectInput(d, target, StructureNotifyMask);
    return 1;
}

// What desktops read to group, match and identify a window: WM_CLASS,
// WM_CLIENT_MACHINE (XSetWMProperties adds it), _NET_WM_PID, and the title
// as desktops that read UTF-8 names expect it, beside WM_NAME.
static void set_desktop_properties(gfx *g) {
    char pid_name[] = "_NET_WM_PID", name_name[] = "_NET_WM_NAME", utf8_name[] = "UTF8_STRING";
    char *names[] = {pid_name, name_name, utf8_name};
    Atom atoms[3];
    XInternAtoms(g->display, names, 3, False, atoms);
    char instance[] = "vorbles", cls[] = "Vorbles";
    XClassHint hint;
    hint.res_name = instance;
    hint.res_class = cls;
    XSetWMProperties(g->display, g->window, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &hint);
    const long pid = getpid();
    XChangeProperty(g->display, g->window, atoms[0], XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&pid), 1);
    static const char title[] = "vorbles";
    XChangeProperty(g->display, g->window, atoms[1], atoms[2], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(title), sizeof title - 1);
}

// How long the set-up waits for the window manager to map the window.
static const int MAP_WAIT_MS = 1000;

static int64_t monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Takes the event that reports the window mapped (or destroyed) from the
// queue, waiting for it up to MAP_WAIT_MS. A window manager may keep the
// window unmapped (started iconic, on another desktop) for as long as it
// likes; the run then goes on and draws once the window is shown. A caught
// signal ends the wait at once, and the run sequence then ends the run.
static void wait_for_map(Display *d, Window w) {
    const int64_t deadline = monotonic_ms() + MAP_WAIT_MS;
    XEvent ev;
    while (!XCheckIfEvent(d, &ev, WaitForNotify, reinterpret_cast<XPointer>(w))) {
        const int64_t left = deadline - monotonic_ms();
        if (left <= 0) return;
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left)) < 0 && errno == EINTR) return;
    }
}

// Own-window mode: a top-level window titled "vorbles", normally mapped before we return.
static int setup_own_window(gfx *g) {
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

    g->window = XCreateWindow(d, root, 0, 0, g->width, g->height, 0, g->vinfo.depth, InputOutput, g->vinfo.visual,
                              mask, &attrs);
    if (!g->window) {
        fprintf(stderr, "Unable to create window\n");
        return 0;
    }
    // Let the window manager's close button end the run like the quit key.
    g->wm_delete = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(d, g->window, &g->wm_delete, 1);
    set_desktop_properties(g);
    if (!XMapWindow(d, g->window)) {
        fprintf(stderr, "Unable to map windows\n");
        return 0;
    }
    XSync(d, False);
    XStoreName(d, g->window, "vorbles");
    wait_for_map(d, g->window);
    g->gc = XCreateGC(d, g->window, 0, nullptr);
    // The map event may have been queued before the title went out; make
    // sure the server has it before the first frame.
    XSync(d, False);
    g->x_offset = 0;
    g->y_offset = 0;
    return 1;
}

// On a depth-32 visual the pixel bits outside the channels are alpha.
static unsigned long alpha_bits(const XImage *image) {
    if (image->depth != 32) return 0;
    return ~(image->red_mask | image->green_mask | image->blue_mask) & 0xffffffffUL;
}

// Paints the whole image with colour-table entry 0, so that the pixels the
// renderer never writes are opaque on a visual with alpha.
static void fill_with_black(gfx *g) {
    XImage *im = g->image;
    for (int x = 0; x < im->width; ++x) XPutPixel(im, x, 0, g->cmap[0]);
    for (int y = 1; y < im->height; ++y)
        memcpy(im->data + static_cast<size_t>(y) * im->bytes_per_line, im->data, im->bytes_per_line);
}

// Protocol errors during the set-up: the first one is kept, and the set-up
// ends on it with one line instead of in Xlib's default handler.
static XErrorHandler setup_previous_handler;
static XErrorEvent setup_error;
static int setup_error_seen;

static int note_setup_error(Display *, XErrorEvent *e) {
    if (!setup_error_seen) setup_error = *e;
    setup_error_seen = 1;
    return 0;
}

static void catch_setup_errors() {
    setup_error_seen = 0;
    setup_previous_handler = XSetErrorHandler(note_setup_error);
}

// Waits until the server has handled every request so far; 1 when it refused
// one of them, which is then named on standard error.
static int setup_refused(Display *d) {
    XSync(d, False);
    if (!setup_error_seen) return 0;
    char error[160], request[80], code[32];
    XGetErrorText(d, setup_error.error_code, error, sizeof error);
    if (setup_error.request_code < 128) {
        snprintf(code, sizeof code, "%d", setup_error.request_code);
        XGetErrorDatabaseText(d, "XRequest", code, code, request, sizeof request);
    } else {
        snprintf(request, sizeof request, "%d.%d", setup_error.request_code, setup_error.minor_code);
    }
    fprintf(stderr, "The X server refused the set-up: %s in request %s\n", error, request);
    return 1;
}

// Undoes a set-up that failed half-way: closing the connection also ends
// the own window and its colormap.
static int setup_failed(gfx *g) {
    if (g->gc && g->window != RootWindow(g->display, g->vinfo.screen)) XFreeGC(g->display, g->gc);
    g->gc = nullptr;
    XCloseDisplay(g->display);
    g->display = nullptr;
    XSetErrorHandler(setup_previous_handler);
    return 0;
}

// During the run, the drawable destroyed under us (our window by another
// client, a screen saver's window by its owner) ends the run; every other
// protocol error keeps the handling it had before.
static XErrorHandler run_previous_handler;
static Display *run_display;
static Window run_drawable;
static int run_drawable_lost;
static int shm_major_opcode;

static int is_put_request(const XErrorEvent *e) {
    return e->request_code == X_PutImage ||
           (shm_major_opcode && e->request_code == shm_major_opcode && e->minor_code == X_ShmPutImage);
}

static int note_run_error(Display *d, XErrorEvent *e) {
    if (d == run_display) {
        if ((e->error_code == BadDrawable || e->error_code == BadWindow) && e->resourceid == run_drawable) {
            run_drawable_lost = 1;
            return 0;
        }
        // What else a put into the lost drawable may bring.
        if (run_drawable_lost && (e->error_code == BadGC || e->error_code == BadMatch) && is_put_request(e)) return 0;
    }
    return run_previous_handler(d, e);
}

// The set-up succeeded: its handler gives way to the run's.
static int setup_done(gfx *g) {
    XSetErrorHandler(setup_previous_handler);
    int first_event, first_error;
    if (!XQueryExtension(g->display, "MIT-SHM", &shm_major_opcode, &first_event, &first_error)) shm_major_opcode = 0;
    run_display = g->display;
    run_drawable = g->window;
    run_drawable_lost = 0;
    XErrorHandler previous = XSetErrorHandler(note_run_error);
    if (previous != note_run_error) run_previous_handler = previous;
    return 1;
}

int gfx_SetupGfx(gfx *g) {
    const char *name = getenv("DISPLAY");
    g->display = XOpenDisplay(name);
    if (!g->display) {
        fprintf(stderr, "Unable to open display %s\n", name ? name : "(null)");
        return 0;
    }
    g->gc = nullptr;
    g->image = nullptr;
    catch_setup_errors();
    if (g->use_root) {
        if (!setup_root(g)) return setup_failed(g);
    } else {
        static const int depths[] = {32, 24, 16, 8};
        int found = 0;
        for (int depth : depths)
            if ((found = XMatchVisualInfo(g->display, DefaultScreen(g->display), depth, TrueColor, &g->vinfo))) break;
        if (!found) {
            fprintf(stderr, "Unable to get a suitable visual\n");
            fprintf(stderr, "A 32,24,16 or 8 bit TrueColor display is required.\n");
            return setup_failed(g);
        }
        g->window = RootWindow(g->display, g->vinfo.screen);
        if (!setup_own_window(g)) return setup_failed(g);
    }
    // The drawable and its graphics context are all the set-up asks of the
    // server before the image (whose attach checks for itself).
    if (setup_refused(g->display)) return setup_failed(g);
    if (!gfx_setup_ximage(g)) return setup_failed(g);
    if (!setup_back_buff(g)) {
        gfx_discard_image(g);
        return setup_failed(g);
    }
    gfx_create_cmap(g);
    if (alpha_bits(g->image)) fill_with_black(g);
    return setup_done(g);
}

// The window's DestroyNotify ends the wait too: a window destroyed before it
// was mapped (by a window manager, say) is never mapped, and the set-up then
// fails on it instead of waiting for ever.
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

int gfx_getkey(gfx *g) {
    XEvent ev;
    // A press that gives no character (a modifier alone) is dropped, so it
    // cannot hold up the presses behind it.
    while (XCheckWindowEvent(g->display, g->window, KeyPressMask, &ev)) {
        char c;
        if (XLookupString(&ev.xkey, &c, 1, nullptr, nullptr) >= 1) return static_cast<signed char>(c);
    }
    return 0;
}

static int clamp_res(int v) { return v < MIN_RES ? MIN_RES : v > MAX_RES ? MAX_RES : v; }

// Makes the image and the intensity buffer anew at width x height and releases
// the old ones. When the new ones cannot be made, the old ones stay and 0 is
// returned. The intensities start at zero; the particles go on as they are.
static int remake_image(gfx *g, int width, int height) {
    gfx old = *g;
    g->width = width;
    g->height = height;
    if (!gfx_resize_ximage(g)) {
        *g = old;
        return 0;
    }
    if (!setup_back_buff(g)) {
        gfx_discard_image(g);
        *g = old;
        return 0;
    }
    gfx_discard_image(&old);
    release_back_buff(&old);
    gfx_create_cmap(g);
    if (alpha_bits(g->image)) fill_with_black(g);
    return 1;
}

// The drawable now measures dw x dh. The own window gets a picture of its
// size, within the size limits; root-window mode sizes and centres the
// picture as at start. Nothing happens while the picture stays as it is (a
// window manager that moves or reparents the window reports the same size).
static void follow_drawable(gfx *g, int dw, int dh) {
    int w = clamp_res(dw), h = clamp_res(dh), x = 0, y = 0;
    if (g->use_root) place_on_drawable(g, dw, dh, &w, &h, &x, &y);
    if (w == g->width && h == g->height && x == g->x_offset && y == g->y_offset) return;
    const int old_w = g->width, old_h = g->height, old_x = g->x_offset, old_y = g->y_offset;
    if ((w != old_w || h != old_h) && !remake_image(g, w, h)) {
        fprintf(stderr, "Unable to resize the picture to %dx%d\n", w, h);
        return;
    }
    g->x_offset = x;
    g->y_offset = y;
    // The old picture would stay wherever the new one does not cover it.
    if (g->use_root) XClearArea(g->display, g->window, old_x, old_y, old_w, old_h, False);
}

// The size that a ConfigureNotify of the drawable reports; later events
// overwrite earlier ones, so a drag that sends many costs one remake.
static void note_size(const gfx *g, const XEvent *ev, int *w, int *h) {
    if (ev->type != ConfigureNotify || ev->xconfigure.window != g->window) return;
    *w = ev->xconfigure.width;
    *h = ev->xconfigure.height;
}

// A run on the root window gives the desktop back: the area it drew shows the
// root's background again. A screen saver's window is its owner's to clear.
static void clear_root_picture(gfx *g) {
    if (!g->use_root || g->window != RootWindow(g->display, g->vinfo.screen)) return;
    XClearArea(g->display, g->window, g->x_offset, g->y_offset, g->width, g->height, False);
}

static Bool not_a_key_press(Display *, XEvent *e, XPointer) { return e->type != KeyPress; }

int gfx_close_requested(gfx *g) {
    // Everything but key presses is read here and dropped, so that pointer
    // and structure events cannot pile up in the queue; key presses stay for
    // gfx_getkey.
    int requested = 0;
    XEvent ev;
    int new_w = 0, new_h = 0;
    while (XCheckIfEvent(g->display, &ev, not_a_key_press, nullptr)) {
        note_size(g, &ev, &new_w, &new_h);
        if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
        } else if (ev.type == DestroyNotify && ev.xdestroywindow.window == g->window) {
            run_drawable_lost = 1;
        } else if (ev.type == ClientMessage && g->wm_delete != None && ev.xclient.window == g->window &&
                   ev.xclient.format == 32 && static_cast<Atom>(ev.xclient.data.l[0]) == g->wm_delete &&
                   ev.xclient.message_type == XInternAtom(g->display, "WM_PROTOCOLS", False)) {
            requested = 1;
        }
    }
    if (run_drawable_lost) return 1;
    if (new_w > 0 && new_h > 0) follow_drawable(g, new_w, new_h);
    return requested;
}

void gfx_cleanup(gfx *g) {
    clear_root_picture(g);  // XCloseDisplay below sends it and waits for the server
    gfx_release_image(g);
    release_back_buff(g);
    if (g->window != RootWindow(g->display, g->vinfo.screen)) XFreeGC(g->display, g->gc);
    XCloseDisplay(g->display);
    g->display = nullptr;
}

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
    const uint32_t alpha = static_cast<uint32_t>(alpha_bits(g->image));
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
