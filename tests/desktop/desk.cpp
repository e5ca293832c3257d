#include "desk.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <chrono>
#include <stdexcept>

#include "support/proc.h"

// The program's window may go at any moment (that is what the tests make it
// do); a request on a window that is gone must not end the test program.
static int ignore_x_error(Display *, XErrorEvent *) { return 0; }

Connection::Connection(const std::string &display) : d(XOpenDisplay(display.c_str())) {
    if (!d) throw std::runtime_error("cannot open display " + display);
    XSetErrorHandler(ignore_x_error);
}

Connection::~Connection() { XCloseDisplay(d); }

static bool titled_vorbles(Display *d, Window w) {
    char *name = nullptr;
    const bool match = XFetchName(d, w, &name) && name && std::string(name) == "vorbles";
    if (name) XFree(name);
    return match;
}

Window find_vorbles_window(Display *d, double timeout_s) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    do {
        Window root, parent, *children = nullptr, found = 0;
        unsigned n = 0;
        if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) {
            for (unsigned i = 0; i < n && !found; ++i)
                if (titled_vorbles(d, children[i])) found = children[i];
            if (children) XFree(children);
        }
        if (found) return found;
        sleep_s(0.02);
    } while (std::chrono::steady_clock::now() < deadline);
    return 0;
}

static Bool is_map_of(Display *, XEvent *e, XPointer w) {
    return e->type == MapNotify && e->xmap.window == reinterpret_cast<Window>(w);
}

Window make_window(Display *d, int x, int y, int width, int height) {
    const int s = DefaultScreen(d);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, width, height, 0, BlackPixel(d, s),
                                   BlackPixel(d, s));
    XSelectInput(d, w, StructureNotifyMask);
    XMapWindow(d, w);
    XEvent e;
    XIfEvent(d, &e, is_map_of, reinterpret_cast<XPointer>(w));
    XSync(d, False);
    return w;
}

std::vector<std::string> wm_protocols(Display *d, Window w) {
    std::vector<std::string> names;
    Atom *list = nullptr;
    int n = 0;
    if (!XGetWMProtocols(d, w, &list, &n)) return names;
    for (int i = 0; i < n; ++i) {
        char *name = XGetAtomName(d, list[i]);
        names.emplace_back(name ? name : "");
        if (name) XFree(name);
    }
    XFree(list);
    return names;
}


void send_key(Display *d, Window w, unsigned long keysym) {
    XEvent e{};
    e.xkey.type = KeyPress;
    e.xkey.display = d;
    e.xkey.window = w;
    e.xkey.root = DefaultRootWindow(d);
    e.xkey.keycode = XKeysymToKeycode(d, keysym);
    e.xkey.same_screen = True;
    XSendEvent(d, w, True, KeyPressMask, &e);
    XSync(d, False);
}

void send_configure_notify(Display *d, Window w, int width, int height) {
    XEvent e{};
    e.xconfigure.type = ConfigureNotify;
    e.xconfigure.display = d;
    e.xconfigure.event = w;
    e.xconfigure.window = w;
    e.xconfigure.width = width;
    e.xconfigure.height = height;
    XSendEvent(d, w, False, StructureNotifyMask, &e);
    XSync(d, False);
}

Pixels read_pixels(Display *d, Drawable w, int x, int y, int width, int height) {
    Pixels p;
    XImage *im = XGetImage(d, w, x, y, width, height, AllPlanes, ZPixmap);
    if (!im) throw std::runtime_error("XGetImage failed");
    p.width = width;
    p.height = height;
    p.rgb.resize(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            p.rgb[static_cast<size_t>(row) * width + col] =
                static_cast<uint32_t>(XGetPixel(im, col, row) & (im->red_mask | im->green_mask | im->blue_mask));
    XDestroyImage(im);
    return p;
}

Box lit_box(const Pixels &p) {
    Box b{p.width, p.height, 0, 0};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.at(x, y)) {
                if (x < b.x0) b.x0 = x;
                if (y < b.y0) b.y0 = y;
                if (x >= b.x1) b.x1 = x + 1;
                if (y >= b.y1) b.y1 = y + 1;
            }
    return b;
}

long lit_count(const Pixels &p) {
    long n = 0;
    for (uint32_t v : p.rgb) n += v != 0;
    return n;
}
