// The display context and every operation that talks to the X server.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

// What one image transport keeps beside the image (the shared-memory segment
// of vorbles); defined in that transport's file, absent in the plain one.
struct gfx_transport;

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
    Atom wm_delete;  // WM_DELETE_WINDOW of the own window, None in root-window mode
    gfx_transport *transport;  // the image transport's own; null in vorbles-plain and without an image
};

// Set-up, key polling and teardown.
int gfx_SetupGfx(gfx *g);
Bool WaitForNotify(Display *d, XEvent *e, XPointer arg);
int constrain_res(int *w, int wmin, int wmax, int wrep, int *h, int hmin, int hmax, int hrep);
int gfx_getkey(gfx *g);
// Discards the own window's unread pointer, button and structure events and
// reports 1 when the window manager asked to close the window, or once the
// drawable has been destroyed under the program (by another client, or by the
// owner of a screen saver's window); else 0.
// When the drawable has changed size, the picture follows it (see gfx-x.cpp).
int gfx_close_requested(gfx *g);
void gfx_cleanup(gfx *g);

// Image transport: one implementation per program, linked in as
// transport-shm.cpp (vorbles) or transport-plain.cpp (vorbles-plain).
// gfx_setup_ximage makes the image; the intensity buffer is the renderer's
// (setup_back_buff), made beside it by gfx_SetupGfx and on a resize.
int gfx_setup_ximage(gfx *g);
// The same at a new size during the run, without the start-up's progress lines.
int gfx_resize_ximage(gfx *g);
void gfx_display_image(gfx *g);
void gfx_release_image(gfx *g);
// Releases the image as gfx_release_image does, without a word: the image is
// being made anew at another size and the run goes on.
void gfx_discard_image(gfx *g);

// Colour table.
void gfx_create_cmap(gfx *g);
