// The bitmap-shaped layout: every set pixel of an XBM file becomes a fixed
// particle followed by nine spawned companions. The one Xlib call of the
// particle system, the bitmap reader, is here.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "particles/psys2d.h"

// Rows are padded to whole bytes; the least significant bit is leftmost.
static bool pixel_set(const unsigned char *data, unsigned width, unsigned col, unsigned row) {
    size_t row_bytes = (static_cast<size_t>(width) + 7) / 8;
    return (data[row * row_bytes + col / 8] >> (col % 8)) & 1;
}

// No bitmap within the particle limit needs a file this large.
static const off_t MAX_BITMAP_FILE_BYTES = 64L << 20;

// XReadBitmapFileData on a regular file of a sane size only. A FIFO would
// block the open for ever and a device such as /dev/zero would be read for
// ever, so the file is opened without blocking and checked first; the reader
// then opens the very file checked, through its descriptor.
static int read_bitmap(const char *path, unsigned *width, unsigned *height, unsigned char **data, int *x_hot,
                       int *y_hot) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return BitmapOpenFailed;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > MAX_BITMAP_FILE_BYTES) {
        close(fd);
        return BitmapOpenFailed;
    }
    char checked[64];
    snprintf(checked, sizeof checked, "/proc/self/fd/%d", fd);
    // Without /proc the path is read again, as checked a moment ago.
    const char *from = access(checked, R_OK) == 0 ? checked : path;
    int status = XReadBitmapFileData(from, width, height, data, x_hot, y_hot);
    close(fd);
    // The reader sizes its buffer from the declared width and height in int
    // arithmetic: a side that is negative or huge there comes back as success
    // with a buffer that does not hold the rows it claims. Within the bound
    // every product it forms fits, and the buffer holds every row.
    if (status == BitmapSuccess &&
        (*width == 0 || *height == 0 || *width > PSYS_MAX_BITMAP_SIDE || *height > PSYS_MAX_BITMAP_SIDE)) {
        XFree(*data);
        *data = nullptr;
        status = BitmapFileInvalid;
    }
    return status;
}

// Every set pixel becomes a fixed particle followed by nine spawned
// companions; ten more spawned particles close the array.
int psys_load_fixed(psys *ps) {
    // Kept as the program has always printed it.
    puts("Am here");
    unsigned width = 0, height = 0;
    unsigned char *data = nullptr;
    int x_hot, y_hot;
    int status = read_bitmap(ps->image_path, &width, &height, &data, &x_hot, &y_hot);
    // Kept as the program has always printed it.
    puts("read that in okay");
    printf("Reading from file %s returns %d\n", ps->image_path, status);
    if (status != 0) {
        fprintf(stderr, "Unable to read bitmap file %s\n", ps->image_path);
        return 0;
    }
    // The pixel count is reported as a 32-bit value; the unsigned product
    // wraps where a signed one would overflow.
    printf("Opened file is %d x %d, requiring a max of %d particles\n", static_cast<int>(width),
           static_cast<int>(height), static_cast<int>(width * height));

    long long set_pixels = 0;
    for (unsigned row = 0; row < height; ++row)
        for (unsigned col = 0; col < width; ++col)
            if (pixel_set(data, width, col, row)) ++set_pixels;
    // Refused before the array is sized: the limit holds for bitmaps too.
    const long long needed = 10 * set_pixels + 10;
    if (needed > PSYS_MAX_COUNT) {
        fprintf(stderr, "Bitmap file %s needs %lld particles, more than the limit of %d\n", ps->image_path, needed,
                PSYS_MAX_COUNT);
        XFree(data);
        return 0;
    }
    int n = static_cast<int>(10 * set_pixels);
    ps->count = n + 10;
    printf("Set psys count to %d\n", n);

    ps->particles = static_cast<particle *>(calloc(static_cast<size_t>(ps->count), sizeof(particle)));
    if (ps->particles == nullptr) {
        XFree(data);
        return 0;
    }

    int k = 0;
    for (unsigned row = 0; row < height; ++row) {
        for (unsigned col = 0; col < width; ++col) {
            if (!pixel_set(data, width, col, row)) continue;
            psys_setparticle_at(ps, &ps->particles[k], static_cast<double>(col) / static_cast<double>(width),
                                static_cast<double>(row) / static_cast<double>(height));
            for (int j = 1; j <= 9; ++j) psys_resetparticle(ps, &ps->particles[k + j]);
            k += 10;
        }
    }
    // The closing ten are not laid out from the bitmap: spawn them like any.
    for (int i = k; i < ps->count; ++i) psys_resetparticle(ps, &ps->particles[i]);

    printf("Finished off having setup %d pixels from %d\n", k, ps->count);
    XFree(data);
    // Kept as the program has always printed it.
    puts("Even got here!");
    return 1;
}

// Stretches the bitmap over the central 80 % of the unit square.
void psys_setparticle_at(psys *, particle *p, double fx, double fy) {
    p->x = fx * 0.8 + 0.1;
    p->y = fy * 0.8 + 0.1;
    p->vx = 0;
    p->vy = 0;
    p->life = FIXED_LIFE;
}
