// Small Xlib requests the tests make as another client of the server.
#pragma once

#include <X11/Xlib.h>

// Asks a window's owner to close it, as a window manager's close button does.
void send_wm_delete(Display *d, Window w);
