// What the display's own files share beyond gfx-x.h.
#pragma once

#include "display/gfx-x.h"

// The run's trap of protocol errors about the drawable, from the end of the
// set-up to the clean-up (display/events.cpp); null when it cannot be made.
gfx_run_trap *gfx_start_run_trap(gfx *g);
void gfx_end_run_trap(gfx_run_trap *t);

// Follows the map state of a screen saver's window and of every window above
// it, and notes whether it is viewable now.
void gfx_watch_saver(gfx *g);

// Clears the picture's places on the drawable to its background.
void gfx_clear_places(gfx *g);
