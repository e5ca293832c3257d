// The command line: the settings it fills besides the two records, the usage
// text and the limits applied after it.
#pragma once

#include "display/gfx-x.h"
#include "particles/psys2d.h"

// What main keeps for the frame loop besides the records.
struct run_settings {
    unsigned char brightness;  // added into the buffer under every particle, each frame
    int mode_period;           // frames between random force-mode changes; 0: none
    int frame_limit;           // frames to show before the run ends; 0: no limit
};

// The values the options start from: base colour 0xccaaff, an own window of
// no given size, brightness 50, no force-mode changes, no frame limit.
void set_option_defaults(gfx *g, run_settings *s);

// Reads the options of argv into the records and s. Returns 1 when help was
// asked for (-h, -f, a bad letter or a missing argument, the last two after
// getopt's own diagnostic), else 0. Each call reads argv from the start.
int read_options(int argc, char **argv, gfx *g, psys *ps, run_settings *s);

void print_usage(const char *progname);

// Brings the mode period, the frame limit and the particle count into their
// ranges, in that order, saying so for each value it changes; the frame
// limit as given is announced first.
void apply_limits(psys *ps, run_settings *s);
