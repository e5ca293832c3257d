// vorbles: the entry point, command line, signals, frame loop and keys.
#include <getopt.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "display/gfx-x.h"
#include "driver/frame.h"
#include "driver/stdfds.h"
#include "particles/psys2d.h"
#include "particles/workers.h"
#include "render/render.h"

// Set by a caught signal or the quit key; the run ends at its next test.
volatile sig_atomic_t cleanup_and_exit = 0;
// Toggled by the space key: no moving, painting or blurring while set.
static int paused = 0;

static void setexitevt(int) { cleanup_and_exit = 1; }

// A signal that was ignored when the program started (under nohup, say)
// stays ignored; the others end the run.
static void catch_signal(int sig) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    signal(sig, setexitevt);
}

static void signalhandler() {
    catch_signal(SIGHUP);
    catch_signal(SIGINT);
    catch_signal(SIGPIPE);
    catch_signal(SIGALRM);
    catch_signal(SIGTERM);
    catch_signal(SIGXCPU);
    catch_signal(SIGXFSZ);
    catch_signal(SIGVTALRM);
    catch_signal(SIGPROF);
    catch_signal(SIGUSR1);
    catch_signal(SIGUSR2);
}

static void usage(const char *progname) {
    static const char *const lines[] = {
        "\t-h        : Show this help",
        "\t-l <num>  : Only show <num> frames",
        "\t-n <num>  : set number of particles to <num>",
        "\t-x <xres> : set x resolution",
        "\t-y <yres> : set y resolution",
        "\t-r        : run in root window",
        "\t-m        : randomly change force modes",
        "\t-b <0-255>: Set particle brightness",
        "\t-f        : Show frames per second",
        "\t-c <color>: Run with a colormap based on a given color\n"
        "\t          : e.g. -c 0xffaa66 for shades of orange\n"
        "e\t          :      -c 0xaaccff for shades of something?!",
        "hello world!",
    };
    printf("%s\n", progname);
    for (const char *line : lines) printf("%s\n", line);
}

// Brings *value into [lo, hi], saying so when it had to.
static void limit(const char *label, int *value, int lo, int hi) {
    if (*value > hi) {
        printf("Limiting %s to max %d from %d\n", label, hi, *value);
        *value = hi;
    } else if (*value < lo) {
        printf("Limiting %s to min %d from %d\n", label, lo, *value);
        *value = lo;
    }
}

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

// The particle array, the intensity buffer and the -i path live until the
// run ends; handing them back here keeps leak checkers meaningful.
static void release_run_storage(psys *ps, gfx *g) {
    free(ps->particles);
    ps->particles = nullptr;
    free(ps->image_path);
    ps->image_path = nullptr;
    free(g->buffer);
    g->buffer = nullptr;
}

static int64_t monotonic_us() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int main(int argc, char **argv) {
    // Before anything is opened: a closed standard descriptor would hand its
    // number to the X connection, and our messages would go into it.
    if (!fill_closed_std_fds()) return 1;
    gfx g{};
    psys ps{};
    unsigned char brightness;
    int mode_period, frame_limit, help_requested;

    // Progress and help lines reach a pipe or a log as they are printed.
    setvbuf(stdout, nullptr, _IOLBF, 0);

    g.default_width = 800;
    g.default_height = 600;
    signalhandler();
    timeval start;
    gettimeofday(&start, nullptr);
    g.alt_renderer = static_cast<int>(start.tv_usec % 2);
    psys_set_defaults(&ps);
    g.base_color = 0xccaaff;
    g.use_root = 0;
    brightness = 50;
    mode_period = 0;
    frame_limit = 0;
    help_requested = 0;
    g.width = 0;
    g.height = 0;

    int opt;
    while ((opt = getopt(argc, argv, "i:m:fhRrn:x:y:b:c:l:")) != -1) {
        switch (opt) {
        case 'x': g.width = atoi(optarg); break;
        case 'y': g.height = atoi(optarg); break;
        case 'n': ps.count = atoi(optarg); break;
        case 'b': brightness = static_cast<unsigned char>(atoi(optarg)); break;
        case 'c': g.base_color = strtol(optarg, nullptr, 16); break;
        case 'r': g.use_root = 1; break;
        case 'R': g.alt_renderer = 1; break;
        case 'm': mode_period = atoi(optarg); break;
        case 'l': frame_limit = atoi(optarg); break;
        case 'i':
            free(ps.image_path);
            ps.image_path = strdup(optarg);
            break;
        default: help_requested = 1; break;  // -h, -f, a bad letter or a missing argument
        }
    }
    if (help_requested) {
        usage(argv[0]);
        return 0;
    }

    if (frame_limit != 0) printf("Showing %d frames and quitting\n", frame_limit);
    limit("Number of frames before changing to next force mode", &mode_period, 0, 10000);
    limit("Number of frames to show", &frame_limit, 0, 10000);
    limit("numParticles", &ps.count, 1, PSYS_MAX_COUNT);

    if (!gfx_SetupGfx(&g)) {
        fprintf(stderr, "Unable to initialise graphics routines\n");
        release_run_storage(&ps, &g);
        return 1;
    }
    if (!psys_create_particles(&ps)) {
        fprintf(stderr, "Unable to create particles\n");
        gfx_cleanup(&g);
        release_run_storage(&ps, &g);
        return 1;
    }
    handle_keyboard_io(&g, &ps, 1);
    if (cleanup_and_exit) {
        printf("Exiting due to received signal\n");
        gfx_cleanup(&g);
        release_run_storage(&ps, &g);
        return 1;
    }

    // The threads for the frame's work, started once for the run.
    workers pool(workers_wanted());
    g.pool = &pool;

    uint32_t frame = 0;
    do {
        const int64_t frame_start = monotonic_us();
        if (mode_period != 0 && frame % static_cast<uint32_t>(mode_period) == 0) psys_set_rnd(&ps);
        if (!paused) {
            move_and_paint_particles(&ps, &g, brightness);
            render_blurred_buffer(&g);
        }
        handle_keyboard_io(&g, &ps, 0);
        // Closing the window from the window manager, or destroying it under
        // us, ends the run like the quit key.
        if (gfx_close_requested(&g)) cleanup_and_exit = 1;
        gfx_display_image(&g);
        ++frame;
        usleep(static_cast<useconds_t>(frame_sleep_us(monotonic_us() - frame_start)));
        if (cleanup_and_exit) {
            printf("Exiting due to received signal\n");
            break;
        }
    } while (frame_limit == 0 || frame < static_cast<uint32_t>(frame_limit));

    gfx_cleanup(&g);
    release_run_storage(&ps, &g);
    return 1;
}
