#include "driver/controls.h"

#include <array>
#include <cstdio>

#include "driver/signals.h"

int paused = 0;

namespace {

// Its wording, "CONTOLS" included, is kept as the program has always printed it.
void print_keyboard_help() {
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

struct binding {
    char key;
    void (*act)(gfx *, psys *);
};

// Every key and what it does; 'h' prints the help, which handle_keyboard_io does.
constexpr binding BINDINGS[] = {
    {'9', [](gfx *, psys *ps) { psys_dec_var(ps, 0); }},
    {'0', [](gfx *, psys *ps) { psys_inc_var(ps, 0); }},
    {'o', [](gfx *, psys *ps) { psys_dec_var(ps, 1); }},
    {'p', [](gfx *, psys *ps) { psys_inc_var(ps, 1); }},
    {'l', [](gfx *, psys *ps) { psys_dec_var(ps, 2); }},
    {';', [](gfx *, psys *ps) { psys_inc_var(ps, 2); }},
    {'.', [](gfx *, psys *ps) { psys_dec_var(ps, 3); }},
    {'/', [](gfx *, psys *ps) { psys_inc_var(ps, 3); }},
    {'d', [](gfx *, psys *ps) { psys_reset_defaults(ps); }},
    {'1', [](gfx *, psys *ps) { psys_set_gra(ps); }},
    {'2', [](gfx *, psys *ps) { psys_set_ang(ps); }},
    {'3', [](gfx *, psys *ps) { psys_set_oth(ps); }},
    {'4', [](gfx *, psys *ps) { psys_set_spr(ps); }},
    {'5', [](gfx *, psys *ps) { psys_set_stf(ps); }},
    {'n', [](gfx *, psys *ps) { psys_set_rnd(ps); }},
    {'h', [](gfx *, psys *) {}},
    {'r', [](gfx *, psys *ps) { psys_reset_all_particles(ps); }},
    {'R', [](gfx *g, psys *) { g->alt_renderer = g->alt_renderer == 0 ? 1 : 0; }},
    {'g', [](gfx *, psys *ps) { psys_toggle_gravity(ps); }},
    {' ', [](gfx *, psys *) { paused = paused == 0 ? 1 : 0; }},
    {'q', [](gfx *, psys *) { cleanup_and_exit = 1; }},
};

constexpr auto KEY_LIST = [] {
    std::array<char, std::size(BINDINGS) + 1> keys{};
    for (size_t i = 0; i < std::size(BINDINGS); ++i) keys[i] = BINDINGS[i].key;
    return keys;
}();

// Every other character does nothing.
void act_on(gfx *g, psys *ps, int key) {
    for (const binding &b : BINDINGS)
        if (b.key == key) b.act(g, ps);
}

}  // namespace

const char *const DRIVER_KEYS = KEY_LIST.data();

void handle_keyboard_io(gfx *g, psys *ps, int first) {
    int key = gfx_getkey(g);
    if (key == 0 && first != 1) return;
    for (;;) {
        act_on(g, ps, key);
        if (key == 'h' || first == 1) {
            print_keyboard_help();
            first = 0;
        }
        key = gfx_getkey(g);
        if (key == 0) return;
    }
}
