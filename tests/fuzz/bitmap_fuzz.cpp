// libFuzzer target for the one file the programs read: the bitmap layout.
// Each input is handed to psys_create_particles as an XBM file; a layout that
// succeeds must hold its own rules (the count, fixed particles on the
// bitmap's square, every particle in the unit square), and the sanitizers
// catch any read outside what the reader returned.
// Built and run by `make fuzz`, not by `make test`.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "particles/psys2d.h"

namespace {

int input_fd = -1;
char input_path[64];

void check(bool holds, const char *what) {
    if (holds) return;
    fprintf(stderr, "layout rule broken: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    input_fd = memfd_create("bitmap.xbm", 0);
    if (input_fd < 0) abort();
    snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (ftruncate(input_fd, 0) != 0 || pwrite(input_fd, data, size, 0) != static_cast<ssize_t>(size)) abort();
    psys ps{};
    psys_set_defaults(&ps);
    ps.image_path = input_path;
    if (psys_create_particles(&ps)) {
        check(ps.count >= 10 && ps.count <= PSYS_MAX_COUNT && ps.count % 10 == 0, "count");
        for (int i = 0; i < ps.count; ++i) {
            const particle &p = ps.particles[i];
            check(p.x >= 0 && p.x <= 1 && p.y >= 0 && p.y <= 1, "a particle outside the unit square");
            if (p.life == FIXED_LIFE)
                check(i % 10 == 0 && i < ps.count - 10 && p.x >= 0.1 && p.x < 0.9 && p.y >= 0.1 && p.y < 0.9,
                      "a fixed particle off the bitmap's square");
        }
    }
    free(ps.particles);
    return 0;
}
