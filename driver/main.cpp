// vorbles: the entry point, signals, the run sequence with its frame loop, and the keys.
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "display/gfx-x.h"
#include "driver/frame.h"
#include "driver/options.h"
#include "driver/signals.h"
#include "driver/stdfds.h"
#include "particles/psys-fast.h"
#include "particles/psys2d.h"
#include "pool/workers.h"
#include "render/render.h"

// Toggled by the space key: no moving, painting or blurring while set.
static int paused = 0;

// Its wording, "CONTOLS" included, is kept as the program has always printed it.
static void print_keyboard_help() {
    printf("%s\n", "\n\n\n      ---- KEYBOARD CONTOLS ----");
    printf("%s\n", "      (Just press them randomly!)");
    printf("%s\n", "CURRENT FORCE SYSTEM PARAMETER CONTROLS:");
    printf("  Decrease/Increase variable 1 : '%c' / '%c'\n", '9', '0');
    printf("  Decrease/Increase variable 2 : '%c' / '%c'\n", 'o', 'p');
    printf("  Decrease/Increase variable 3 : '%c' / '%c'\n", 'l', ';');
    printf("  Decrease/Increase variable 4 : '%c' / '%c'\n", '.', '/');
    printf("  Restore to defaults          : '%c'\n", 'd');
    printf("%s\n", "\nFORCE SYSTEM:");
    printf("  grav                         : '%c'\n", '1');
    printf("  angular                      : '%c'\n", '2');
    printf("  other (weird)                : '%c'\n", '3');
    printf("  spring                       : '%c'\n", '4');
    printf("  cheesy starfield             : '%c'\n", '5');
    printf("  Random                       : '%c'\n", 'n');
    printf("  Display this info            : '%c'\n", 'h');
    printf("%s\n", "\nGENERAL:");
    printf("  Reset positions + velocities : '%c'\n", 'r');
    printf("  Switch to other renderer     : '%c'\n", 'R');
    printf("  Toggle vertical gravity      : '%c'\n", 'g');
    printf("  PAUSE/UNPAUSE                : '%c'\n", ' ');
    printf("QUIT                           : '%c'\n", 'q');
    printf("%s\n", "\n\n\n");
    printf("%s\n", "run program with -h to see a list of command line options");
    printf("%s\n", " e.g. -x 800 -y 600 or somesuch.\n\n");
    printf("%s\n", "Any and all feedback is really welcome, so please ");
    printf("%s\n", "send patches, advice, ideas, thoughts etc. to");
    printf("%s\n", "\tvorbles-maintainers@example.org");
    printf("%s\n", "\n");
}

// Acts on every key pressed since the last call; the start-up call (first 1)
// also prints the keyboard help.
static void handle_keyboard_io(gfx *g, psys *ps, int first) {
    int key = gfx_getkey(g);
    if (key == 0 && first != 1) return;
    for (;;) {
        switch (key) {
        case '9': psys_dec_var(ps, 0); break;
        case '0': psys_inc_var(ps, 0); break;
        case 'o': psys_dec_var(ps, 1); break;
        case 'p': psys_inc_var(ps, 1); break;
        case 'l': psys_dec_var(ps, 2); break;
        case ';': psys_inc_var(ps, 2); break;
        case '.': psys_dec_var(ps, 3); break;
        case '/': psys_inc_var(ps, 3); break;
        case 'd': psys_reset_defaults(ps); break;
        case '1': psys_set_gra(ps); break;
        case '2': psys_set_ang(ps); break;
        case '3': psys_set_oth(ps); break;
        case '4': psys_set_spr(ps); break;
        case '5': psys_set_stf(ps); break;
        case 'n': psys_set_rnd(ps); break;
        case 'r': psys_reset_all_particles(ps); break;
        case 'R': g->alt_renderer = g->alt_renderer == 0 ? 1 : 0; break;
        case 'g': psys_toggle_gravity(ps); break;
        case ' ': paused = paused == 0 ? 1 : 0; break;
        case 'q': cleanup_and_exit = 1; break;
        default: break;  // 'h' is handled below; every other key does nothing
        }
        if (key == 'h' || first == 1) {
            print_keyboard_help();
            first = 0;
        }
        key = gfx_getkey(g);
        if (key == 0) return;
    }
}

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

// The frame loop, until the frame limit or the flag ends it.
static void run_frames(gfx *g, psys *ps, const run_settings &settings) {
    // The threads for the frame's work, started once for the run, and what
    // the particle step and the renderer keep from frame to frame.
    workers pool(workers_wanted());
    psys_fast_state fast;
    render_rows rows;

    uint32_t frame = 0;
    do {
        const int64_t frame_start = monotonic_us();
        if (settings.mode_period != 0 && frame % static_cast<uint32_t>(settings.mode_period) == 0) psys_set_rnd(ps);
        if (!paused) {
            psys_step_and_paint(ps, &fast, g->buffer, g->width, g->height, settings.brightness, &pool);
            render_blurred_buffer(g, &pool, &rows);
        }
        handle_keyboard_io(g, ps, 0);
        // Closing the window from the window manager, or destroying it under
        // us, ends the run like the quit key.
        if (gfx_close_requested(g)) cleanup_and_exit = 1;
        gfx_display_image(g);
        ++frame;
        usleep(static_cast<useconds_t>(frame_sleep_us(monotonic_us() - frame_start)));
        if (cleanup_and_exit) {
            printf("Exiting due to received signal\n");
            break;
        }
    } while (settings.frame_limit == 0 || frame < static_cast<uint32_t>(settings.frame_limit));
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
