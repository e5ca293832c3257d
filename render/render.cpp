// The blur renderer: one pass over the intensity buffer blurs it in place with a
// four-neighbour average and writes each blurred cell's colour into the image.
//
// Every average is (a + b + c + d) >> 2 and is stored at once, so a tap on a cell
// already visited in this pass reads the new value. The loops below are arranged
// for speed but give exactly the cell-by-cell results.
#include "render/render.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pool/workers.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The widest paths need AVX-512 (BW and VBMI) and are taken at run time where the
// processor has it; VORBLES_RENDER_NO_AVX512 leaves them out of the build.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(VORBLES_RENDER_NO_AVX512)
#define RENDER_AVX512 1
#include <immintrin.h>
#endif

namespace {

// The byte order of this machine's words, as an XImage names it.
constexpr int NATIVE_ORDER = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? MSBFirst : LSBFirst;

// The low 32 bits of each colour-table entry: the pixel as a 32-bit image holds
// it, as a word whose bytes in memory are in the image's byte order (that of
// its X server, which need not be this machine's: a remote display, or an
// emulated processor). Every store of a pixel below copies such a word.
struct pixel_table {
    uint32_t px[256];
#if RENDER_AVX512
    alignas(64) unsigned char plane[4][256];  // byte k of every pixel, for the wide lookup
    bool wide;                                // the processor runs the AVX-512 paths
#endif
    explicit pixel_table(const unsigned long *cmap, int byte_order = NATIVE_ORDER) {
        for (int i = 0; i < 256; ++i) {
            const uint32_t v = static_cast<uint32_t>(cmap[i]);
            px[i] = byte_order == NATIVE_ORDER ? v : __builtin_bswap32(v);
        }
#if RENDER_AVX512
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 256; ++i) plane[k][i] = static_cast<unsigned char>(px[i] >> 8 * k);
        wide = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
#endif
    }
};

// Pixel rows are addressed in bytes (bytes_per_line), so stores go through memcpy.
inline void put32(unsigned char *p, uint32_t v) { std::memcpy(p, &v, sizeof v); }

#if RENDER_AVX512
// Looks up each byte plane of 64 cells with two 128-entry byte permutes and
// interleaves the planes into 64 pixels. The interleave works within 128-bit lanes;
// shuffling the cells' dwords first puts the pixels back in order. Returns how many
// cells it coloured, a multiple of 64.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) int colour_span_vbmi(const unsigned char *cells, int n,
                                                                            unsigned char *pix, const pixel_table &t) {
    __m512i tab[4][4];
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k)
#pragma GCC unroll 4
        for (int q = 0; q < 4; ++q) tab[k][q] = _mm512_load_si512(t.plane[k] + 64 * q);
    const __m512i order = _mm512_set_epi32(15, 11, 7, 3, 14, 10, 6, 2, 13, 9, 5, 1, 12, 8, 4, 0);
    int i = 0;
    for (; i + 64 <= n; i += 64) {
        const __m512i raw = _mm512_loadu_si512(cells + i);
        const __m512i idx = _mm512_permutex2var_epi32(raw, order, raw);
        const __mmask64 upper = _mm512_movepi8_mask(idx);  // entries 128 to 255
        __m512i b[4];
#pragma GCC unroll 4
        for (int k = 0; k < 4; ++k)
            b[k] = _mm512_mask_blend_epi8(upper, _mm512_permutex2var_epi8(tab[k][0], idx, tab[k][1]),
                                          _mm512_permutex2var_epi8(tab[k][2], idx, tab[k][3]));
        const __m512i lo01 = _mm512_unpacklo_epi8(b[0], b[1]), hi01 = _mm512_unpackhi_epi8(b[0], b[1]);
        const __m512i lo23 = _mm512_unpacklo_epi8(b[2], b[3]), hi23 = _mm512_unpackhi_epi8(b[2], b[3]);
        unsigned char *p = pix + 4 * static_cast<ptrdiff_t>(i);
        _mm512_storeu_si512(p, _mm512_unpacklo_epi16(lo01, lo23));
        _mm512_storeu_si512(p + 64, _mm512_unpackhi_epi16(lo01, lo23));
        _mm512_storeu_si512(p + 128, _mm512_unpacklo_epi16(hi01, hi23));
        _mm512_storeu_si512(p + 192, _mm512_unpackhi_epi16(hi01, hi23));
    }
    return i;
}
#endif

inline void colour_span(const unsigned char *cells, int n, unsigned char *pix, const pixel_table &t) {
    int i = 0;
#if RENDER_AVX512
    if (t.wide && n >= 64) i = colour_span_vbmi(cells, n, pix, t);
#endif
    for (; i < n; ++i) put32(pix + 4 * static_cast<ptrdiff_t>(i), t.px[cells[i]]);
}

// The bottom row has nothing below it: it only fades.
inline void halve_span(unsigned char *cells, int n) {
    for (int i = 0; i < n; ++i) cells[i] >>= 1;
}

// Normal renderer, one row: cells c[0..n) each become the average of themselves and
// the three cells below, bl[i], bl[i + 1], bl[i + 2] (bl starts below-left of c[0]).
// The row below is untouched in this pass and c[i] is read before it is written, so
// this is a plain filter and may run many cells at a time.
void norm_span(unsigned char *c, const unsigned char *bl, int n, unsigned char *pix, const pixel_table &t) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i self = _mm_loadu_si128(reinterpret_cast<const __m128i *>(c + i));
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bl + i));
        const __m128i m = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bl + i + 1));
        const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bl + i + 2));
        __m128i lo = _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(self, zero), _mm_unpacklo_epi8(l, zero)),
                                   _mm_add_epi16(_mm_unpacklo_epi8(m, zero), _mm_unpacklo_epi8(r, zero)));
        __m128i hi = _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(self, zero), _mm_unpackhi_epi8(l, zero)),
                                   _mm_add_epi16(_mm_unpackhi_epi8(m, zero), _mm_unpackhi_epi8(r, zero)));
        lo = _mm_srli_epi16(lo, 2);
        hi = _mm_srli_epi16(hi, 2);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(c + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < n; ++i) c[i] = static_cast<unsigned char>((c[i] + bl[i] + bl[i + 1] + bl[i + 2]) >> 2);
    colour_span(c, n, pix, t);
}

#if RENDER_AVX512
// Steps one and three of alt_span below, 32 cells at a time (its groups of four lanes
// never straddle a 128-bit lane). The cells are c[0 ..], the row above starts at ul + i
// (row 0 has none). Each returns how many cells it did, a multiple of 32.
template <bool HasUp>
__attribute__((target("avx512f,avx512bw"))) int alt_sums_wide(const unsigned char *c, const unsigned char *ul, int i,
                                                              int m, uint16_t *sums) {
    const __m512i weight = _mm512_set4_epi32(64 << 16 | 16, 4 << 16 | 1, 64 << 16 | 16, 4 << 16 | 1);
    int k = 0;
    for (; k + 32 <= m; k += 32) {
        __m512i s = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(c + k + 1)));
        if constexpr (HasUp) {
            const unsigned char *u = ul + i + k;
            s = _mm512_add_epi16(s, _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(u))));
            s = _mm512_add_epi16(s, _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(u + 2))));
        }
        s = _mm512_mullo_epi16(s, weight);
        s = _mm512_mask_add_epi16(s, 0xeeeeeeee, s, _mm512_bslli_epi128(s, 2));
        s = _mm512_mask_add_epi16(s, 0xcccccccc, s, _mm512_bslli_epi128(s, 4));
        _mm512_storeu_si512(sums + k, s);
    }
    return k;
}

__attribute__((target("avx512f,avx512bw"))) int alt_values_wide(const uint16_t *sums, const uint32_t *carry, int m,
                                                                unsigned char *c) {
    const __m512i spread = _mm512_set_epi16(7, 7, 7, 7, 6, 6, 6, 6, 5, 5, 5, 5, 4, 4, 4, 4,  //
                                            3, 3, 3, 3, 2, 2, 2, 2, 1, 1, 1, 1, 0, 0, 0, 0);
    const __m512i shift = _mm512_set4_epi32(8 << 16 | 6, 4 << 16 | 2, 8 << 16 | 6, 4 << 16 | 2);
    int k = 0;
    for (; k + 32 <= m; k += 32) {
        const __m512i in8 = _mm512_zextsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i *>(carry + k / 8)));
        const __m512i in = _mm512_permutex2var_epi16(in8, spread, in8);
        const __m512i s = _mm512_srlv_epi16(_mm512_add_epi16(_mm512_loadu_si512(sums + k), in), shift);
        _mm512_mask_cvtepi16_storeu_epi8(c + k, ~__mmask32{0}, s);
    }
    return k;
}
#endif

// Alternative renderer, one row: c[i] becomes the average of its left neighbour c[i-1]
// (new), its right neighbour c[i+1] (old) and the two cells above, ul[i] and ul[i+2]
// (new; zeros above row 0, passed as ul == nullptr). With s[i] = c[i+1] + ul[i] + ul[i+2]
// the row is the recurrence v[i] = (v[i-1] + s[i]) >> 2, v[-1] = c[-1].
//
// Nested floors fold: ((a >> 2) + b) >> 2 == (a + 4b) >> 4 for a, b >= 0. So within a
// block of four cells, v[k] = (v_in + A[k]) >> (2k + 2) with A[k] = s[0] + 4 s[1] + ...
// + 4^k s[k], and v_in is the last value of the previous block. A[3] + v_in is at most
// 765 * 85 + 255 = 65280, so a block fits 16-bit lanes. The sums A are built in
// parallel, the values of each block again in parallel from its v_in; only the carry
// from block to block is sequential, and it folds the same way over two blocks at once.
template <bool HasUp>
void alt_span(unsigned char *c, const unsigned char *ul, int n, unsigned char *pix, const pixel_table &t) {
    unsigned v = c[-1];
    int i = 0;
#if defined(__SSE2__)
    constexpr int chunk = 512;  // cells per round of the three steps; a multiple of 8
    alignas(64) uint16_t sums[chunk];
    uint32_t carry[chunk / 8];  // v_in of the two blocks of each eight cells
    const __m128i zero = _mm_setzero_si128();
    const __m128i weight = _mm_set_epi16(64, 16, 4, 1, 64, 16, 4, 1);
    const __m128i keep1 = _mm_set_epi16(-1, -1, -1, 0, -1, -1, -1, 0);
    const __m128i keep2 = _mm_set_epi16(-1, -1, 0, 0, -1, -1, 0, 0);
    // Multiplying by 2^(16 - s) and keeping the high half shifts right by s.
    const __m128i shift = _mm_set_epi16(1 << 8, 1 << 10, 1 << 12, 1 << 14, 1 << 8, 1 << 10, 1 << 12, 1 << 14);
    while (n - i >= 8) {
        const int m = std::min(chunk, (n - i) & ~7);
        unsigned char *cc = c + i;
        // Weighted block sums. They read c[i + 1 .. i + m], all still old: this round
        // writes c[i .. i + m - 1] only afterwards.
        int k0 = 0;
#if RENDER_AVX512
        if (t.wide) k0 = alt_sums_wide<HasUp>(cc, ul, i, m, sums);
#endif
        for (int k = k0; k < m; k += 8) {
            __m128i s = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(cc + k + 1)), zero);
            if constexpr (HasUp) {
                const unsigned char *u = ul + i + k;
                s = _mm_add_epi16(s, _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)), zero));
                s = _mm_add_epi16(s,
                                  _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u + 2)), zero));
            }
            s = _mm_mullo_epi16(s, weight);
            s = _mm_add_epi16(s, _mm_and_si128(_mm_slli_si128(s, 2), keep1));
            s = _mm_add_epi16(s, _mm_and_si128(_mm_slli_si128(s, 4), keep2));
            _mm_store_si128(reinterpret_cast<__m128i *>(sums + k), s);
        }
        // The carry, two blocks a step: v + a + 256 b stays below 2^25.
        const int groups = m / 8;
        for (int g = 0; g < groups; ++g) {
            const unsigned a = sums[8 * g + 3], ab = a + (sums[8 * g + 7] << 8);
            carry[g] = v | ((v + a) >> 8) << 16;
            v = (v + ab) >> 16;
        }
        int g0 = 0;
#if RENDER_AVX512
        if (t.wide) g0 = alt_values_wide(sums, carry, m, cc) / 8;
#endif
        for (int g = g0; g < groups; ++g) {
            const int k = 8 * g;
            __m128i in = _mm_cvtsi32_si128(static_cast<int>(carry[g]));
            in = _mm_unpacklo_epi16(in, in);
            in = _mm_unpacklo_epi32(in, in);  // each v_in in its block's four lanes
            __m128i s = _mm_add_epi16(_mm_load_si128(reinterpret_cast<const __m128i *>(sums + k)), in);
            s = _mm_mulhi_epu16(s, shift);
            _mm_storel_epi64(reinterpret_cast<__m128i *>(cc + k), _mm_packus_epi16(s, zero));
        }
        colour_span(cc, m, pix + 4 * static_cast<ptrdiff_t>(i), t);
        i += m;
    }
#endif
    for (; i < n; ++i) {
        unsigned s = c[i + 1];
        if constexpr (HasUp) s += ul[i] + ul[i + 2];
        v = (v + s) >> 2;
        c[i] = static_cast<unsigned char>(v);
        put32(pix + 4 * static_cast<ptrdiff_t>(i), t.px[v]);
    }
}

// Buffers under 3 x 3 and images that cannot hold the w x h pixels are left alone.
bool renderable(const gfx *g) {
    return g->width >= 3 && g->height >= 3 && g->image && g->buffer && g->image->width >= g->width &&
           g->image->height >= g->height;
}

// The 32-bit renderers write rows of 4 * w bytes at the image's own row stride.
bool renderable32(const gfx *g) {
    return renderable(g) && g->image->bytes_per_line >= 4 * static_cast<ptrdiff_t>(g->width);
}

// Normal renderer, rows y0 to y1 - 1, from the first blurred cell (row 0, column 1)
// and its pixel. below_last is column 0 of the row under row y1 - 1 as it was before
// the pass: row y1 itself, or a copy of it while another thread rewrites it.
void norm_rows(unsigned char *first, int w, int y0, int y1, const unsigned char *below_last, unsigned char *pix,
               ptrdiff_t pitch, const pixel_table &t) {
    for (int y = y0; y < y1; ++y) {
        unsigned char *c = first + static_cast<ptrdiff_t>(y) * w;
        norm_span(c, y + 1 == y1 ? below_last : c + w - 1, w - 2, pix + y * pitch, t);
    }
}

// Normal renderer over h - 1 rows, then the bottom row from column 1 halved.
void norm_pass(unsigned char *first, int w, int h, unsigned char *pix, ptrdiff_t pitch, const pixel_table &t) {
    unsigned char *bottom = first + static_cast<ptrdiff_t>(h - 1) * w;
    norm_rows(first, w, 0, h - 1, bottom - 1, pix, pitch, t);
    halve_span(bottom, w - 1);
}

// The fewest cells a band gets: waking a pool thread that sleeps between
// frames, handing it a band and waiting for it costs about what this pass
// takes for a band of this size with the AVX-512 paths, so smaller pictures
// gain nothing from a split. (A thread still polling after the step's jobs
// answers sooner, but with few particles the step gives it none.)
constexpr long NORM_BAND_CELLS = 131072;

// The rows 0 to h - 2 are cut into bands of consecutive rows, one per thread. Row
// y reads only itself and row y + 1 from before the pass, so a band depends on the
// others only through the row under its last one, which the next band overwrites:
// that row is copied before the bands start, and the band reads the copy. The last
// band ends on row h - 2, reads the bottom row itself and halves it afterwards.
void render_norm(gfx *g, int bands, workers *pool, render_rows *rows) {
    const int w = g->width, h = g->height;
    unsigned char *first = g->buffer + 1;
    unsigned char *pix = reinterpret_cast<unsigned char *>(g->image->data) + 4;
    const ptrdiff_t pitch = g->image->bytes_per_line;
    const pixel_table t(g->cmap, g->image->byte_order);
    bands = pool ? std::min({bands, pool->count(), h - 1}) : 1;
    if (bands <= 1) {
        norm_pass(first, w, h, pix, pitch, t);
        return;
    }
    auto start = [&](int k) { return static_cast<int>(static_cast<int64_t>(h - 1) * k / bands); };
    render_rows for_this_call;
    std::vector<unsigned char> &copies = (rows ? *rows : for_this_call).kept;
    const size_t bytes = static_cast<size_t>(bands - 1) * w;
    if (copies.size() < bytes) copies.resize(bytes);
    unsigned char *kept = copies.data();
    for (int k = 1; k < bands; ++k)
        std::memcpy(kept + static_cast<ptrdiff_t>(k - 1) * w, g->buffer + static_cast<ptrdiff_t>(start(k)) * w, w);
    pool->run(bands, [&](int k, int) {
        unsigned char *bottom = first + static_cast<ptrdiff_t>(h - 1) * w;
        const bool last = k + 1 == bands;
        norm_rows(first, w, start(k), start(k + 1), last ? bottom - 1 : kept + static_cast<ptrdiff_t>(k) * w, pix,
                  pitch, t);
        if (last) halve_span(bottom, w - 1);
    });
}

// As many bands as the pool has threads, each of NORM_BAND_CELLS cells at least.
int norm_bands(const gfx *g, const workers *pool) {
    if (!pool) return 1;
    const long cells = static_cast<long>(g->width) * g->height;
    return static_cast<int>(std::min<long>(pool->count(), std::max<long>(1, cells / NORM_BAND_CELLS)));
}

// Rows 0 to h - 3, then image row h - 2 cleared to the colour of intensity 0 (all
// zero bits would be transparent on a visual with alpha); buffer rows h - 2 and
// h - 1 untouched. It stays on one thread: each row reads the new values of the
// row above, which depend on every row before it, so a band could only start
// once the band above had finished, and bands would run one after another.
void render_alt(gfx *g) {
    const int w = g->width, h = g->height;
    const ptrdiff_t pitch = g->image->bytes_per_line;
    unsigned char *pix = reinterpret_cast<unsigned char *>(g->image->data);
    const pixel_table t(g->cmap, g->image->byte_order);
    for (int y = 0; y < h - 2; ++y) {
        unsigned char *row = g->buffer + static_cast<ptrdiff_t>(y) * w;
        if (y == 0)
            alt_span<false>(row + 1, nullptr, w - 2, pix + 4, t);
        else
            alt_span<true>(row + 1, row - w, w - 2, pix + y * pitch + 4, t);
    }
    unsigned char *cleared = pix + (h - 2) * pitch;
    for (int x = 0; x < w; ++x) put32(cleared + 4 * static_cast<ptrdiff_t>(x), t.px[0]);
}

// Any pixel size other than 32 bits: the left, self, right and below taps, each pixel
// through XPutPixel with the whole table entry. It stays on the calling thread, as
// every Xlib call does.
void render_per_pixel(gfx *g) {
    const int w = g->width, h = g->height;
    for (int y = 0; y < h - 1; ++y) {
        unsigned char *row = g->buffer + static_cast<ptrdiff_t>(y) * w;
        const unsigned char *below = row + w;
        unsigned v = row[0];
        for (int x = 1; x < w - 1; ++x) {
            v = (v + row[x] + row[x + 1] + below[x]) >> 2;
            row[x] = static_cast<unsigned char>(v);
            XPutPixel(g->image, x, y, g->cmap[v]);
        }
    }
    halve_span(g->buffer + static_cast<ptrdiff_t>(h - 1) * w + 1, w - 1);
}

}  // namespace

void render_blurred_buffer(gfx *g, workers *pool, render_rows *rows) {
    if (!renderable(g)) return;
    if (g->image->bits_per_pixel != 32)
        render_per_pixel(g);
    else if (!renderable32(g))
        return;
    else if (g->alt_renderer == 1)
        render_alt(g);
    else
        render_norm(g, norm_bands(g, pool), pool, rows);
}

void render32_norm(gfx *g, workers *pool, render_rows *rows) {
    if (renderable32(g)) render_norm(g, norm_bands(g, pool), pool, rows);
}

void render32_norm_bands(gfx *g, int bands, workers *pool, render_rows *rows) {
    if (renderable32(g)) render_norm(g, bands, pool, rows);
}

void render32_alt(gfx *g) {
    if (renderable32(g)) render_alt(g);
}

void doloop(unsigned char *cell, int height, int width, uint32_t *pixel, const unsigned long *cmap) {
    if (width < 3 || height < 3) return;
    const pixel_table t(cmap);
    norm_pass(cell, width, height, reinterpret_cast<unsigned char *>(pixel), 4 * static_cast<ptrdiff_t>(width), t);
}

int setup_back_buff(gfx *g) {
    const int64_t size = static_cast<int64_t>(g->width) * g->height;
    g->buffer = size < 0 ? nullptr : static_cast<unsigned char *>(std::calloc(static_cast<size_t>(size), 1));
    return g->buffer != nullptr;
}

void release_back_buff(gfx *g) {
    std::free(g->buffer);
    g->buffer = nullptr;
}
