// The display context and every operation that talks to the X server.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// What one image transport keeps beside the image (the shared-memory segment
// of vorbles); defined in that transport's file, absent in the plain one.
struct gfx_transport;
// The run's catch of protocol errors about the drawable (display/events.cpp).
struct gfx_run_trap;

// Sizes of the picture outside this range fall back to a default (the own
// window) or are held to it (a root window or screen saver's window).
constexpr int GFX_MIN_RES = 16;
constexpr int GFX_MAX_RES = 4096;

// The most monitors a picture is shown on at once.
constexpr int GFX_MAX_PLACES = 16;

// What the drawable's events have told since the last look (display/events.cpp).
struct gfx_view {
    int mapped;       // the own window is mapped, or the screen saver's window viewable
    int obscured;     // the drawable is fully covered, as the server reports it
    int new_width;    // a size the drawable was given and the picture has not followed yet
    int new_height;   // (0 when none)
    int close_asked;  // the window manager asked to close the window
    int lost;         // the drawable was destroyed under the program
};

struct gfx {
    Display *display;
    int width;
    int height;
    XVisualInfo vinfo;
    int use_root;
    Window window;
    GC gc;
    int alt_renderer;
    XImage *image;
    unsigned char *buffer;
    unsigned long cmap[256];
    long base_color;
    int default_width;
    int default_height;
    // The size the user asked for, before any correction: root-window mode
    // sizes the picture from it again when its drawable changes size.
    int requested_width;
    int requested_height;
    int x_offset;
    int y_offset;
    // Further places the same picture is put at each frame: the centres of
    // the other monitors of a root window that spans several.
    int extra_places;
    int extra_x[GFX_MAX_PLACES];
    int extra_y[GFX_MAX_PLACES];
    // The characters the program acts on, set before the set-up: a key whose
    // character is none of them is read in the keyboard's first group.
    const char *keys;
    // Set by a set-up that failed where another way may work: one line for
    // the user, printed by the caller after its own.
    const char *advice;
    Atom wm_protocols, wm_delete, wm_ping;  // None in root-window mode
    gfx_view view;
    gfx_run_trap *run_trap;
    gfx_transport *transport;  // the image transport's own; null in vorbles-plain and without an image
};

// Set-up and teardown.
int gfx_SetupGfx(gfx *g);
Bool WaitForNotify(Display *d, XEvent *e, XPointer arg);
int constrain_res(int *w, int wmin, int wmax, int wrep, int *h, int hmin, int hmax, int hrep);
void gfx_cleanup(gfx *g);

// Keys: the character of the next pending key press, or 0 (display/keys.cpp).
int gfx_getkey(gfx *g);

// The drawable's events (display/events.cpp). Each call first reads every
// pending event but key presses, which stay for gfx_getkey.
// What ends the run: GFX_CLOSE_ASKED once when the window manager asked to
// close the window, GFX_DRAWABLE_LOST from when the drawable was destroyed
// under the program (by another client, or by the owner of a screen saver's
// window); else 0.
constexpr int GFX_CLOSE_ASKED = 1;
constexpr int GFX_DRAWABLE_LOST = 2;
int gfx_close_requested(gfx *g);
// Whether any of the picture can be seen: the own window mapped and not
// fully covered, a screen saver's window viewable and not fully covered; the
// root window always.
int gfx_visible(gfx *g);
// A new size of the drawable: the picture is made anew to follow it.
void gfx_follow_size(gfx *g);
// Waits until an event arrives, a signal is caught or timeout_ms pass.
void gfx_wait(gfx *g, int timeout_ms);

// Where the picture goes on the drawable (display/places.cpp).
void gfx_place_picture(gfx *g, int drawable_width, int drawable_height);

// Image transport: one implementation per program, linked in as
// transport-shm.cpp (vorbles) or transport-plain.cpp (vorbles-plain).
// gfx_setup_ximage makes the image; the intensity buffer is the renderer's
// (setup_back_buff), made beside it by gfx_SetupGfx and on a resize.
int gfx_setup_ximage(gfx *g);
// The same at a new size during the run, without the start-up's progress lines.
int gfx_resize_ximage(gfx *g);
// Puts the image at every place of the picture, then waits for the server.
void gfx_display_image(gfx *g);
void gfx_release_image(gfx *g);
// Releases the image as gfx_release_image does, without a word: the image is
// being made anew at another size and the run goes on.
void gfx_discard_image(gfx *g);

// Colour table (display/cmap.cpp).
void gfx_create_cmap(gfx *g);
// The bits of a depth-32 pixel outside the three channels: alpha.
unsigned long gfx_alpha_bits(const XImage *image);
// Paints the whole image with colour-table entry 0, so that the pixels the
// renderer never writes are opaque on a visual with alpha.
void gfx_fill_black(gfx *g);
