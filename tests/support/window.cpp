#include "support/window.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>

#include <stdexcept>

#include "support/proc.h"
#include "support/xvfb.h"

namespace {

int ignore_x_error(Display *, XErrorEvent *) { return 0; }

Bool is_map_of(Display *, XEvent *e, XPointer w) {
    return e->type == MapNotify && e->xmap.window == reinterpret_cast<Window>(w);
}

}  // namespace

Connection::Connection(const std::string &display, XErrors errors) : d(XOpenDisplay(display.c_str())) {
    if (!d) throw std::runtime_error("cannot open display " + display);
    if (errors == XErrors::ignored) XSetErrorHandler(ignore_x_error);
}

Connection::Connection(const Xvfb &server, XErrors errors) : Connection(server.display(), errors) {}

Connection::~Connection() { XCloseDisplay(d); }

std::set<Window> windows_titled(Display *d, const std::string &title) {
    std::set<Window> found;
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XSync(d, False);
    if (!XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &n)) return found;
    for (unsigned i = 0; i < n; ++i) {
        char *name = nullptr;
        if (XFetchName(d, children[i], &name) && name) {
            if (title == name) found.insert(children[i]);
            XFree(name);
        }
    }
    if (children) XFree(children);
    return found;
}

Window find_window(Display *d, double timeout_s) {
    Window found = 0;
    const auto look = [&] {
        const std::set<Window> titled = windows_titled(d, "vorbles");
        found = titled.empty() ? 0 : *titled.begin();
        return found != 0;
    };
    if (!look()) wait_until(look, timeout_s);
    return found;
}

Window make_window(Display *d, int x, int y, int width, int height) {
    const int s = DefaultScreen(d);
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), x, y, width, height, 0, BlackPixel(d, s), BlackPixel(d, s));
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

void send_wm_delete(Display *d, Window w) {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    // No event mask: the event goes to the client that made the window.
    XSendEvent(d, w, False, NoEventMask, &ev);
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

void send_key(Display *d, Window w, KeySym keysym) {
    XEvent e{};
    e.xkey.type = KeyPress;
    e.xkey.display = d;
    e.xkey.window = w;
    e.xkey.root = DefaultRootWindow(d);
    e.xkey.keycode = XKeysymToKeycode(d, keysym);
    // A keysym in the key's second column, such as 'R', is typed with Shift.
    if (XkbKeycodeToKeysym(d, e.xkey.keycode, 0, 0) != keysym) e.xkey.state = ShiftMask;
    // With the keyboard's group in the state, as the server gives it to the
    // window manager; the keysym is looked for in the first group.
    XkbStateRec keyboard{};
    if (XkbGetState(d, XkbUseCoreKbd, &keyboard) == Success)
        e.xkey.state = XkbBuildCoreState(e.xkey.state, keyboard.group);
    e.xkey.same_screen = True;
    XSendEvent(d, w, True, KeyPressMask, &e);
    XSync(d, False);
}

bool send_keys(Display *d, Window w, const std::vector<std::string> &names) {
    std::vector<KeySym> keysyms;
    for (const std::string &name : names) {
        keysyms.push_back(XStringToKeysym(name.c_str()));
        if (keysyms.back() == NoSymbol || XKeysymToKeycode(d, keysyms.back()) == 0) return false;
    }
    for (KeySym keysym : keysyms) send_key(d, w, keysym);
    return true;
}

Pixels read_pixels(Display *d, Drawable w, int x, int y, int width, int height) {
    XImage *im = XGetImage(d, w, x, y, width, height, AllPlanes, ZPixmap);
    if (!im) throw std::runtime_error("XGetImage failed");
    Pixels p;
    p.width = width;
    p.height = height;
    p.depth = im->depth;
    p.rgb_mask = static_cast<uint32_t>(im->red_mask | im->green_mask | im->blue_mask);
    p.values.resize(static_cast<size_t>(width) * height);
    for (int row = 0; row < height; ++row)
        for (int col = 0; col < width; ++col)
            p.values[static_cast<size_t>(row) * width + col] = static_cast<uint32_t>(XGetPixel(im, col, row));
    XDestroyImage(im);
    return p;
}

Pixels read_pixels(Display *d, Drawable w) {
    Window root;
    int x, y;
    unsigned width, height, border, depth;
    if (!XGetGeometry(d, w, &root, &x, &y, &width, &height, &border, &depth))
        throw std::runtime_error("XGetGeometry failed");
    return read_pixels(d, w, 0, 0, static_cast<int>(width), static_cast<int>(height));
}

Box lit_box(const Pixels &p) {
    Box b{p.width, p.height, 0, 0};
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            if (p.rgb(x, y)) {
                if (x < b.x0) b.x0 = x;
                if (y < b.y0) b.y0 = y;
                if (x >= b.x1) b.x1 = x + 1;
                if (y >= b.y1) b.y1 = y + 1;
            }
    return b;
}

long lit_count(const Pixels &p) {
    long n = 0;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) n += p.rgb(x, y) != 0;
    return n;
}
