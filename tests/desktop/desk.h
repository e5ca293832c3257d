// What the desktop tests do as the other clients of a desktop would: a window
// manager closing the program's window, a screen saver lending its window.
#pragma once

#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/xclient.h"

// One client connection, closed at the end of the scope.
struct Connection {
    explicit Connection(const std::string &display);
    ~Connection();
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    Display *d;
};

// The top-level window titled "vorbles", waiting up to timeout_s for it; 0 if none.
Window find_vorbles_window(Display *d, double timeout_s = 20);

// A mapped black window of the default visual, as a screen saver makes one.
Window make_window(Display *d, int x, int y, int width, int height);

// The protocols that the window asks its window manager for.
std::vector<std::string> wm_protocols(Display *d, Window w);

// A key press of the key that gives the keysym, as a window manager forwards it.
void send_key(Display *d, Window w, unsigned long keysym);

// The ConfigureNotify that the server sends about a window of a new size, as
// for the root window when the screen changes size (RandR), which Xvfb cannot.
void send_configure_notify(Display *d, Window w, int width, int height);

// The RGB value of every pixel of a rectangle of a drawable, row-major.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t at(int x, int y) const { return rgb[static_cast<size_t>(y) * width + x]; }
};
Pixels read_pixels(Display *d, Drawable w, int x, int y, int width, int height);

// The smallest rectangle holding every pixel that is not black (empty when all are).
struct Box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // x1, y1 one past the last
    bool empty() const { return x1 <= x0 || y1 <= y0; }
};
Box lit_box(const Pixels &p);

// The number of pixels that are not black.
long lit_count(const Pixels &p);
