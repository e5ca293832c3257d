// The keyboard controls of the program's window.
#pragma once

#include "display/gfx-x.h"
#include "particles/psys2d.h"

// Toggled by the space key: no moving, painting or blurring while set.
extern int paused;

// Every character the keys below act on, for the display's key look-up.
extern const char *const DRIVER_KEYS;

// Acts on every key pressed since the last call; the start-up call (first 1)
// also prints the keyboard help.
void handle_keyboard_io(gfx *g, psys *ps, int first);
