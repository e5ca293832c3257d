#include "driver/options.h"

#include <getopt.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

void set_option_defaults(gfx *g, run_settings *s) {
    g->base_color = 0xccaaff;
    g->use_root = 0;
    s->brightness = 50;
    s->mode_period = 0;
    s->frame_limit = 0;
    g->width = 0;
    g->height = 0;
}

int read_options(int argc, char **argv, gfx *g, psys *ps, run_settings *s) {
    int help_requested = 0;
    // 0, not 1: glibc's getopt then starts afresh, also after a call that
    // stopped inside a cluster of letters such as -rR.
    optind = 0;
    int opt;
    while ((opt = getopt(argc, argv, "i:m:fhRrn:x:y:b:c:l:")) != -1) {
        switch (opt) {
        case 'x': g->width = atoi(optarg); break;
        case 'y': g->height = atoi(optarg); break;
        case 'n': ps->count = atoi(optarg); break;
        case 'b': s->brightness = static_cast<unsigned char>(atoi(optarg)); break;
        case 'c': g->base_color = strtol(optarg, nullptr, 16); break;
        case 'r': g->use_root = 1; break;
        case 'R': g->alt_renderer = 1; break;
        case 'm': s->mode_period = atoi(optarg); break;
        case 'l': s->frame_limit = atoi(optarg); break;
        case 'i':
            free(ps->image_path);
            ps->image_path = strdup(optarg);
            break;
        default: help_requested = 1; break;  // -h, -f, a bad letter or a missing argument
        }
    }
    return help_requested;
}

void print_usage(const char *progname) {
    // The odd lines ("e\t ... shades of something?!", "hello world!") are
    // kept as the program has always printed them.
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

void apply_limits(psys *ps, run_settings *s) {
    if (s->frame_limit != 0) printf("Showing %d frames and quitting\n", s->frame_limit);
    limit("Number of frames before changing to next force mode", &s->mode_period, 0, 10000);
    limit("Number of frames to show", &s->frame_limit, 0, 10000);
    limit("numParticles", &ps->count, 1, PSYS_MAX_COUNT);
}
