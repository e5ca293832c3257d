// Another client of a test's X server: it finds the program's window, sends
// it what a user or a window manager would, and reads back what it shows.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

class Xvfb;

// What a protocol error does in the test program: Xlib's default ends it;
// tests whose program windows may go at any moment ignore errors instead.
// The handler is the process's, not the connection's.
enum class XErrors { fatal, ignored };

// One client connection, closed at the end of the scope.
struct Connection {
    explicit Connection(const std::string &display, XErrors errors = XErrors::fatal);
    explicit Connection(const Xvfb &server, XErrors errors = XErrors::fatal);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    Display *d;
};

// Window ids under the root whose title is the given one.
std::set<Window> windows_titled(Display *d, const std::string &title);

// The top-level window titled "vorbles", waiting up to timeout_s for it; 0 if none.
Window find_window(Display *d, double timeout_s = 20);

// A mapped black window of the default visual, as a screen saver makes one.
Window make_window(Display *d, int x, int y, int width, int height);

// The protocols that the window asks its window manager for.
std::vector<std::string> wm_protocols(Display *d, Window w);

// Asks a window's owner to close it, as a window manager's close button does.
void send_wm_delete(Display *d, Window w);

// The ConfigureNotify that the server sends about a window of a new size, as
// for the root window when the screen changes size (RandR), which Xvfb cannot.
void send_configure_notify(Display *d, Window w, int width, int height);

// A press of the key that gives the keysym in the keyboard's first group
// (with Shift held where the keysym needs it), in the keyboard's active
// group, as a window manager forwards it to the window.
void send_key(Display *d, Window w, KeySym keysym);

// Key presses by keysym name ("q", "R", "space", "semicolon"), in order;
// false, and nothing sent, when a name has no key on the server's keyboard.
bool send_keys(Display *d, Window w, const std::vector<std::string> &names);

// The pixels of a rectangle of a drawable as the server holds them.
struct Pixels {
    int width = 0, height = 0, depth = 0;
    uint32_t rgb_mask = 0;         // the red, green and blue bits of a pixel
    std::vector<uint32_t> values;  // row-major
    uint32_t at(int x, int y) const { return values[static_cast<size_t>(y) * width + x]; }
    uint32_t rgb(int x, int y) const { return at(x, y) & rgb_mask; }
    bool operator==(const Pixels &o) const { return width == o.width && height == o.height && values == o.values; }
};
Pixels read_pixels(Display *d, Drawable w, int x, int y, int width, int height);
// The whole drawable.
Pixels read_pixels(Display *d, Drawable w);

// The smallest rectangle holding every pixel that is not black (empty when all are).
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 one past the last
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};
Box lit_box(const Pixels &p);

// The number of pixels that are not black.
long lit_count(const Pixels &p);
