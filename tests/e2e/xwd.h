// Reads a picture back from the X server with xwd and decodes the XWD dump.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct XwdPicture {
    int width = 0;
    int height = 0;
    int depth = 0;
    std::vector<uint32_t> pixels;  // row-major pixel values as the server holds them

    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const XwdPicture &o) const {
        return width == o.width && height == o.height && pixels == o.pixels;
    }
};

// Decodes an XWD (version 7, ZPixmap) dump; throws on anything else.
XwdPicture decode_xwd(const std::string &dump);

// Runs xwd on the given display: the root window, or the window with that id.
XwdPicture xwd_capture(const std::string &display, unsigned long window = 0);
