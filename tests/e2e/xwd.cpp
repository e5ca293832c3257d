#include "xwd.h"

#include <stdexcept>

#include "support/proc.h"

namespace {

uint32_t be32(const std::string &s, size_t off) {
    if (off + 4 > s.size()) throw std::runtime_error("short XWD dump");
    auto b = [&](size_t i) { return static_cast<uint32_t>(static_cast<unsigned char>(s[off + i])); };
    return b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3);
}

}  // namespace

XwdPicture decode_xwd(const std::string &dump) {
    // The header is a run of big-endian 32-bit fields.
    enum {
        kHeaderSize, kVersion, kFormat, kDepth, kWidth, kHeight, kXOffset, kByteOrder, kBitmapUnit,
        kBitOrder, kBitmapPad, kBitsPerPixel, kBytesPerLine, kVisualClass, kRedMask, kGreenMask, kBlueMask,
        kBitsPerRgb, kColormapEntries, kNColors,
    };
    auto field = [&](int i) { return be32(dump, 4 * static_cast<size_t>(i)); };
    if (field(kVersion) != 7 || field(kFormat) != 2) throw std::runtime_error("not a ZPixmap XWD dump");
    XwdPicture p;
    p.width = static_cast<int>(field(kWidth));
    p.height = static_cast<int>(field(kHeight));
    p.depth = static_cast<int>(field(kDepth));
    const uint32_t bpp = field(kBitsPerPixel);
    const size_t bpl = field(kBytesPerLine);
    const bool msb_first = field(kByteOrder) == 1;
    const size_t data = field(kHeaderSize) + 12 * static_cast<size_t>(field(kNColors));
    if (bpp != 8 && bpp != 16 && bpp != 32) throw std::runtime_error("unexpected bits per pixel");
    const size_t bytes = bpp / 8;
    if (data + bpl * p.height > dump.size()) throw std::runtime_error("short XWD image data");
    p.pixels.resize(static_cast<size_t>(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            const size_t off = data + y * bpl + x * bytes;
            uint32_t v = 0;
            for (size_t i = 0; i < bytes; ++i) {
                const uint32_t byte = static_cast<unsigned char>(dump[off + (msb_first ? i : bytes - 1 - i)]);
                v = v << 8 | byte;
            }
            p.pixels[static_cast<size_t>(y) * p.width + x] = v;
        }
    }
    return p;
}

XwdPicture xwd_capture(const std::string &display, unsigned long window) {
    std::vector<std::string> args = {"xwd", "-silent", "-display", display};
    if (window) {
        args.push_back("-id");
        args.push_back(std::to_string(window));
    } else {
        args.push_back("-root");
    }
    RunResult r = run_program(args, {}, 30);
    if (r.status != 0) throw std::runtime_error("xwd failed: " + r.err);
    return decode_xwd(r.out);
}
