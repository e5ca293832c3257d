// An independent run of the same rules in the test process: the frames a run
// of the program with the same options must show, computed with the library's
// literal per-frame step.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <string>
#include <vector>

struct RunOptions {
    int width = 320;
    int height = 200;
    int count = 10000;
    unsigned char brightness = 50;
    long base_color = 0xccaaff;
    int mode_period = 0;
    int frames = 1;
    std::string image_path;  // XBM layout when not empty
    // Written after the others on the command line, where they win: other
    // spellings of the same settings.
    std::vector<std::string> extra;

    // The program's command line for these options (without the program name).
    std::vector<std::string> args() const;
};

// The image after opts.frames frames, row-major pixel values, for the given
// visual and renderer choice, starting from the generators' default state.
std::vector<uint32_t> model_picture(Display *dpy, const XVisualInfo &vinfo, const RunOptions &opts, int alt_renderer);

// The smallest particle count from `from` up whose start draws force mode
// `mode` (0 gravitational .. 4 starfield) at the first random mode change.
int model_count_for_first_mode(int mode, int from);
