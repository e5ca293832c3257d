#include "model.h"

#include <cstdlib>
#include <cstring>

#include "display/gfx-x.h"
#include "particles/psys-paint.h"
#include "particles/psys2d.h"
#include "render/render.h"

std::vector<std::string> RunOptions::args() const {
    std::vector<std::string> a = {"-x", std::to_string(width),  "-y", std::to_string(height),
                                  "-n", std::to_string(count),  "-b", std::to_string(brightness),
                                  "-l", std::to_string(frames), "-m", std::to_string(mode_period)};
    char colour[32];
    snprintf(colour, sizeof colour, "%lx", base_color);
    a.insert(a.end(), {"-c", colour});
    if (!image_path.empty()) a.insert(a.end(), {"-i", image_path});
    a.insert(a.end(), extra.begin(), extra.end());
    return a;
}

std::vector<uint32_t> model_picture(Display *dpy, const XVisualInfo &vinfo, const RunOptions &o, int alt_renderer) {
    // The program never seeds; seed 1 is glibc's default state.
    srandom(1);

    psys ps{};
    psys_set_defaults(&ps);
    psys_reset_defaults(&ps);
    ps.count = o.count;
    if (!o.image_path.empty()) ps.image_path = strdup(o.image_path.c_str());

    gfx g{};
    g.display = dpy;
    g.vinfo = vinfo;
    g.width = o.width;
    g.height = o.height;
    g.base_color = o.base_color;
    g.alt_renderer = alt_renderer;
    g.image = XCreateImage(dpy, vinfo.visual, vinfo.depth, ZPixmap, 0, nullptr, o.width, o.height, 32, 0);
    g.image->data = static_cast<char *>(calloc(g.image->height, g.image->bytes_per_line));
    g.buffer = static_cast<unsigned char *>(calloc(static_cast<size_t>(o.width) * o.height, 1));
    gfx_create_cmap(&g);
    for (int y = 0; y < o.height; ++y)
        for (int x = 0; x < o.width; ++x) XPutPixel(g.image, x, y, g.cmap[0]);

    std::vector<uint32_t> picture;
    if (psys_create_particles(&ps)) {
        for (int frame = 0; frame < o.frames; ++frame) {
            if (o.mode_period != 0 && frame % o.mode_period == 0) psys_set_rnd(&ps);
            psys_automovep(&ps);
            psys_paint_particles(&ps, g.buffer, g.width, g.height, o.brightness);
            render_blurred_buffer(&g);
        }
        const unsigned long mask = vinfo.depth >= 32 ? 0xffffffffUL : (1UL << vinfo.depth) - 1;
        for (int y = 0; y < o.height; ++y)
            for (int x = 0; x < o.width; ++x) picture.push_back(static_cast<uint32_t>(XGetPixel(g.image, x, y) & mask));
    }
    free(ps.particles);
    free(ps.image_path);
    free(g.buffer);
    XDestroyImage(g.image);
    return picture;
}

int model_count_for_first_mode(int mode, int from) {
    const psys_force_fn laws[] = {psys_frc_gra, psys_frc_ang, psys_frc_oth, psys_frc_spr, psys_frc_stf};
    for (int count = from;; ++count) {
        srandom(1);
        psys ps{};
        psys_set_defaults(&ps);
        psys_reset_defaults(&ps);
        ps.count = count;
        const bool created = psys_create_particles(&ps);
        psys_set_rnd(&ps);
        free(ps.particles);
        if (created && ps.force == laws[mode]) return count;
    }
}
