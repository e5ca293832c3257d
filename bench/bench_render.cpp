// One renderer pass over a whole frame: the normal and alternative renderers on a
// 32-bit image, the per-pixel renderer on a 16-bit one; the normal renderer also
// in bands on a pool of 2 threads.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "pool/workers.h"
#include "render/render.h"

namespace {

struct frame {
    XImage im{};
    std::vector<unsigned char> pixels;
    std::vector<unsigned char> cells;
    gfx g{};

    frame(int w, int h, int bpp) : cells(static_cast<size_t>(w) * h) {
        im.width = w, im.height = h, im.format = ZPixmap;
        im.byte_order = im.bitmap_bit_order = LSBFirst;
        im.bitmap_unit = im.bitmap_pad = 32;
        im.depth = bpp == 32 ? 24 : bpp, im.bits_per_pixel = bpp;
        im.bytes_per_line = w * bpp / 8;
        pixels.assign(static_cast<size_t>(im.bytes_per_line) * h, 0);
        im.data = reinterpret_cast<char *>(pixels.data());
        XInitImage(&im);
        std::mt19937 rng(1);
        for (auto &c : cells) c = static_cast<unsigned char>(rng());
        for (int i = 0; i < 256; ++i) g.cmap[i] = static_cast<unsigned long>(i) * 0x010101;
        g.width = w, g.height = h, g.image = &im, g.buffer = cells.data();
    }
};

void run(benchmark::State &state, int bpp, int alt, int threads = 1, int bands = 0) {
    frame f(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), bpp);
    f.g.alt_renderer = alt;
    workers threads_pool(threads);
    workers *pool = threads > 1 ? &threads_pool : nullptr;
    render_rows rows;
    for (auto _ : state) {
        if (bands)
            render32_norm_bands(&f.g, bands, pool, &rows);
        else
            render_blurred_buffer(&f.g, pool, &rows);
        benchmark::DoNotOptimize(f.cells.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0) * state.range(1));
}

void BM_render_normal(benchmark::State &state) { run(state, 32, 0); }
void BM_render_alternative(benchmark::State &state) { run(state, 32, 1); }
void BM_render_per_pixel(benchmark::State &state) { run(state, 16, 0); }
// As the program chooses the bands on 2 threads, and always 2 bands (how small a
// picture still gains from them).
void BM_render_normal_2_threads(benchmark::State &state) { run(state, 32, 0, 2); }
void BM_render_normal_2_bands(benchmark::State &state) { run(state, 32, 0, 2, 2); }

void sizes(benchmark::internal::Benchmark *b) {
    b->Args({800, 600})->Args({1920, 1080})->Args({4096, 4096})->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_render_normal)->Apply(sizes);
BENCHMARK(BM_render_alternative)->Apply(sizes);
BENCHMARK(BM_render_per_pixel)->Apply(sizes);
BENCHMARK(BM_render_normal_2_threads)->Apply(sizes);
BENCHMARK(BM_render_normal_2_bands)
    ->Args({100, 100})
    ->Args({200, 150})
    ->Args({320, 200})
    ->Args({400, 300})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_render_normal)
    ->Args({100, 100})
    ->Args({200, 150})
    ->Args({320, 200})
    ->Args({400, 300})
    ->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
