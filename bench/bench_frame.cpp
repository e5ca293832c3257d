// One frame's work at 800 x 600 (particle step, painting, normal renderer) per
// force mode and particle count: the straightforward path beside the fast one,
// and each phase on its own.
//
// Names: frame|step|paint|render / plain|fast[-avx2|-sse2] / mode / count.
// "step/fast+paint" is the fused step with its painting; the painting's share
// of the fast frame is that minus "step/fast".
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/frame.h"
#include "particles/psys-fast.h"
#include "render/render.h"

namespace {

constexpr int WIDTH = 800, HEIGHT = 600;

struct mode {
    const char *name;
    void (*set)(psys *);
};
const mode MODES[] = {{"gravitational", psys_set_gra},
                      {"angular", psys_set_ang},
                      {"other", psys_set_oth},
                      {"spring", psys_set_spr},
                      {"starfield", psys_set_stf}};

// A started system and an 800 x 600 display in memory with a 32-bit image.
struct scene {
    psys ps{};
    gfx g{};
    XImage image{};
    std::vector<unsigned char> cells = std::vector<unsigned char>(WIDTH * HEIGHT);
    std::vector<uint32_t> pixels = std::vector<uint32_t>(WIDTH * HEIGHT);

    scene(const mode &m, int count) {
        psys_set_defaults(&ps);
        ps.count = count;
        if (!psys_create_particles(&ps)) abort();
        m.set(&ps);
        image.width = WIDTH, image.height = HEIGHT, image.format = ZPixmap;
        image.byte_order = image.bitmap_bit_order = LSBFirst;
        image.bitmap_unit = image.bitmap_pad = 32;
        image.depth = 24, image.bits_per_pixel = 32, image.bytes_per_line = WIDTH * 4;
        image.data = reinterpret_cast<char *>(pixels.data());
        XInitImage(&image);
        for (int i = 0; i < 256; ++i) g.cmap[i] = static_cast<unsigned long>(i) * 0x010101;
        g.width = WIDTH, g.height = HEIGHT, g.image = &image, g.buffer = cells.data();
        // Settle into the running animation: trails in the buffer, particles spread.
        for (int f = 0; f < 3; ++f) frame_fast();
    }
    ~scene() { free(ps.particles); }

    void frame_plain() {
        psys_automovep_plain(&ps);
        paint_particles(&ps, &g, 50);
        render_blurred_buffer(&g);
    }
    void frame_fast() {
        move_and_paint_particles(&ps, &g, 50);
        render_blurred_buffer(&g);
    }
};

using work_fn = void (*)(scene &);

void measure(benchmark::State &state, const mode *m, int count, work_fn work) {
    scene s(*m, count);
    for (auto _ : state) {
        work(s);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void add(const std::string &name, const mode *m, int count, work_fn work) {
    benchmark::RegisterBenchmark((name + "/" + m->name + "/" + std::to_string(count)).c_str(), measure, m, count, work)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

}  // namespace

int main(int argc, char **argv) {
#if defined(__x86_64__)
    const psys_simd best = psys_simd_best();
#endif
    for (int count : {10000, 200000, 2000000}) {
        for (const mode &m : MODES) {
            add("frame/plain", &m, count, [](scene &s) { s.frame_plain(); });
            add("frame/fast", &m, count, [](scene &s) { s.frame_fast(); });
            add("step/plain", &m, count, [](scene &s) { psys_automovep_plain(&s.ps); });
            add("step/fast", &m, count, [](scene &s) { psys_automovep_fast(&s.ps); });
            add("step/fast+paint", &m, count,
                [](scene &s) { psys_automovep_paint(&s.ps, s.cells.data(), WIDTH, HEIGHT, 50); });
#if defined(__x86_64__)
            if (best >= psys_simd::avx2)
                add("step/fast-avx2", &m, count,
                    [](scene &s) { psys_automovep_simd(&s.ps, nullptr, 0, 0, 0, psys_simd::avx2); });
            add("step/fast-sse2", &m, count,
                [](scene &s) { psys_automovep_simd(&s.ps, nullptr, 0, 0, 0, psys_simd::sse2); });
#endif
        }
        add("paint/plain", &MODES[3], count, [](scene &s) { paint_particles(&s.ps, &s.g, 50); });
    }
    add("render/normal", &MODES[3], 10000, [](scene &s) { render_blurred_buffer(&s.g); });

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
