// The particle system: records, control variables and the psys_ operations.
#pragma once

#include <cstdint>

// A particle whose life holds this value is fixed: never aged, moved or respawned.
constexpr int FIXED_LIFE = -666;

// The most particles a system may hold, from the command line or a bitmap.
constexpr int PSYS_MAX_COUNT = 2000000;

// The widest and tallest bitmap the layout takes, in pixels. A bitmap that
// declares a side of 0 or more than this is refused as unreadable.
constexpr unsigned PSYS_MAX_BITMAP_SIDE = 32768;

struct particle {
    double x;   // 0 left edge .. 1 right edge
    double y;   // 0 top edge .. 1 bottom edge
    double vx;  // unit-square widths per frame
    double vy;  // unit-square heights per frame
    int life;   // frames left, or FIXED_LIFE
};

// A named, bounded, steppable parameter of the force laws.
struct cvar {
    const char *name;
    double value;
    double default_value;
    double min;
    double max;
    double step;
};

struct psys;
using psys_force_fn = void (*)(psys *ps, particle *a, particle *b);

struct psys {
    particle *particles;
    int count;
    char *image_path;
    psys_force_fn force;
    cvar *cset[4];  // slot 0 always maxspeed; an empty slot is null
    int region_x0;
    int region_x1;
    int region_y0;
    int region_y1;
    int life_span;
    double damping;
    double gravity_x;
    double gravity_y;
    double pull_x;
    double pull_y;
    int pull_on;
    int damping_on;
    int gravity_on;
};

// The six program-wide control variables.
extern cvar maxspeed, gra_frc, ang_frc, oth_frc, spr_frc, spr_len;

// Defaults and control variables.
void psys_set_defaults(psys *ps);
void psys_reset_defaults(psys *ps);
void psys_inc_var(psys *ps, int slot);
void psys_dec_var(psys *ps, int slot);
void show_cvar(psys *ps, int slot);
void psys_show_cset(psys *ps);

// Lifecycle and motion.
int psys_create_particles(psys *ps);
void psys_resetparticle(psys *ps, particle *p);
void psys_reset_all_particles(psys *ps);
// The literal per-frame step: the force law through the pointer on every
// adjacent pair, last pair first, then psys_move. The fast step
// (psys-fast.h) gives the same result.
void psys_automovep(psys *ps);
void psys_move(psys *ps);
// The motion step of one particle from damping on: damping, centre pull,
// normalisation (scale = SPEED_SCALE / maxspeed), gravity, move and walls.
// psys_move calls it after ageing and any respawn.
void psys_move_particle(const psys *ps, double scale, particle *p);
void psys_toggle_gravity(psys *ps);

// Pairings and spawn regions the program itself does not use.
void psys_frc_to_next(psys *ps);
void psys_frc_to_lead(psys *ps);
void psys_frc_to_all(psys *ps);
void psys_set_region(psys *ps, double x0, double x1, double y0, double y1);
void psys_rand_edge_starts(psys *ps);
void psys_rand_burstpt(psys *ps);

// Force modes: setters and laws.
void psys_set_gra(psys *ps);
void psys_set_ang(psys *ps);
void psys_set_oth(psys *ps);
void psys_set_spr(psys *ps);
void psys_set_stf(psys *ps);
void psys_set_rnd(psys *ps);

// The five force modes by name, in the order of their keys (1 to 5) and of
// psys_set_rnd's pick.
struct psys_mode {
    const char *name;
    void (*set)(psys *);
};
extern const psys_mode PSYS_MODES[5];

void psys_frc_gra(psys *ps, particle *a, particle *b);
void psys_frc_ang(psys *ps, particle *a, particle *b);
void psys_frc_oth(psys *ps, particle *a, particle *b);
void psys_frc_spr(psys *ps, particle *a, particle *b);
void psys_frc_stf(psys *ps, particle *a, particle *b);
void psys_frc_sgra(psys *ps, particle *a, particle *b);
void psys_stick(particle *p, particle *q);

// Bitmap-shaped layout.
int psys_load_fixed(psys *ps);
void psys_setparticle_at(psys *ps, particle *p, double fx, double fy);
