// vorbles: the entry point and the run sequence with its frame loop.
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "display/gfx-x.h"
#include "driver/controls.h"
#include "driver/frame.h"
#include "driver/options.h"
#include "driver/signals.h"
#include "driver/stdfds.h"
#include "particles/psys-fast.h"
#include "particles/psys2d.h"
#include "pool/workers.h"
#include "render/render.h"

// The particle array and the -i path live until the run ends; handing them
// back here keeps leak checkers meaningful. (The intensity buffer goes with
// the display, in gfx_cleanup.)
static void release_run_storage(psys *ps) {
    free(ps->particles);
    ps->particles = nullptr;
    free(ps->image_path);
    ps->image_path = nullptr;
}

static int64_t monotonic_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

// How long a rest while the picture cannot be seen lasts at most before the
// loop looks again (an event or a caught signal ends it sooner).
constexpr int HIDDEN_WAIT_MS = 500;

// The line a run ends with when the window went, not a signal or the quit key.
static const char *closed_line(int why) {
    return why == GFX_CLOSE_ASKED ? "Exiting: the window was closed" : "Exiting: the window was destroyed";
}

// Between frames, keys, a window manager's requests and new sizes still act.
// Returns how the window ended the run, or 0.
static int between_frames(gfx *g, psys *ps) {
    handle_keyboard_io(g, ps, 0);
    const int closed = gfx_close_requested(g);
    gfx_follow_size(g);
    return closed;
}

// The frame loop, until the frame limit, the flag or the window ends it.
// While nothing of the picture can be seen the loop rests between two
// frames: no frame work and nothing sent, and the animation's clock stands,
// so the frames shown are those it would have shown had it never been hidden.
static void run_frames(gfx *g, psys *ps, const run_settings &settings) {
    // The threads for the frame's work, started once for the run, and what
    // the particle step and the renderer keep from frame to frame.
    workers pool(workers_wanted());
    psys_fast_state fast;
    render_rows rows;

    uint32_t frame = 0, fast_frames = 0, stepped = 0;
    int closed = 0;
    bool unshown = false;  // the last frame was made while the picture could not be seen
    do {
        while (!cleanup_and_exit && !closed && !gfx_visible(g)) {
            gfx_wait(g, HIDDEN_WAIT_MS);
            closed = between_frames(g, ps);
        }
        if (cleanup_and_exit || closed) break;
        if (unshown) gfx_display_image(g);
        const int64_t frame_start = monotonic_us();
        if (settings.mode_period != 0 && frame % static_cast<uint32_t>(settings.mode_period) == 0) psys_set_rnd(ps);
        if (!paused) {
            fast_frames += psys_step_and_paint(ps, &fast, g->buffer, g->width, g->height, settings.brightness, &pool);
            ++stepped;
            render_blurred_buffer(g, &pool, &rows);
        }
        closed = between_frames(g, ps);
        unshown = !gfx_visible(g);
        if (!unshown) gfx_display_image(g);
        ++frame;
        usleep(static_cast<useconds_t>(frame_sleep_us(monotonic_us() - frame_start)));
    } while (!cleanup_and_exit && !closed &&
             (settings.frame_limit == 0 || frame < static_cast<uint32_t>(settings.frame_limit)));
    if (cleanup_and_exit)
        printf("Exiting due to received signal\n");
    else if (closed)
        printf("%s\n", closed_line(closed));
    // Which step the frames took, for tests and the curious.
    const char *report = getenv("VORBLES_STEP_REPORT");
    if (report != nullptr && *report != '\0')
        fprintf(stderr, "Fast step in %u of %u frames (%s)\n", fast_frames, stepped, psys_simd_name(fast.isa()));
}

int main(int argc, char **argv) {
    // Before anything is opened: a closed standard descriptor would hand its
    // number to the X connection, and our messages would go into it.
    if (!fill_closed_std_fds()) return 1;
    gfx g{};
    psys ps{};
    run_settings settings;

    // Progress and help lines reach a pipe or a log as they are printed.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    g.default_width = 800;
    g.default_height = 600;
    g.keys = DRIVER_KEYS;
    signalhandler();
    timeval start;
    gettimeofday(&start, nullptr);
    g.alt_renderer = static_cast<int>(start.tv_usec % 2);
    psys_set_defaults(&ps);
    set_option_defaults(&g, &settings);
    if (read_options(argc, argv, &g, &ps, &settings)) {
        print_usage(argv[0]);
        release_run_storage(&ps);
        return 0;
    }
    apply_limits(&ps, &settings);

    if (!gfx_SetupGfx(&g)) {
        fprintf(stderr, "Unable to initialise graphics routines\n");
        if (g.advice) fprintf(stderr, "%s\n", g.advice);
        release_run_storage(&ps);
        return 1;
    }
    if (!psys_create_particles(&ps)) {
        fprintf(stderr, "Unable to create particles\n");
        gfx_cleanup(&g);
        release_run_storage(&ps);
        return 1;
    }
    handle_keyboard_io(&g, &ps, 1);
    if (cleanup_and_exit) {
        printf("Exiting due to received signal\n");
        gfx_cleanup(&g);
        release_run_storage(&ps);
        return 1;
    }

    // Memory that runs out during the run (the fast step's lists, a larger
    // picture's buffers) ends it as any other end does: message, clean-up,
    // status 1.
    try {
        run_frames(&g, &ps, settings);
    } catch (const std::bad_alloc &) {
        fprintf(stderr, "Out of memory\n");
    }
    gfx_cleanup(&g);
    release_run_storage(&ps);
    return 1;
}
