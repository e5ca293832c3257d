// The particle system: control variables, spawning, the per-frame step and
// the force laws. Creating the particles is in psys-create.cpp, the
// bitmap-shaped layout in psys-bitmap.cpp.
//
// Everything here must reproduce the animation bit for bit: random() and
// rand() are drawn in a fixed order from the library's unseeded state, and the
// double arithmetic is written in exactly the order it has to be evaluated.
#include "particles/psys2d.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "particles/psys-rules.h"

cvar maxspeed = {"Max Speed", 110, 110, 1, 500, 10};
cvar gra_frc = {"Graviational Force", 6e-09, 6e-09, 0, 1, 1e-10};
cvar ang_frc = {"Angular Force", 30, 30, 1, 1, 0};
cvar oth_frc = {"Other Force", 0.35, 0.35, 0.0001, 100, 0};
cvar spr_frc = {"Spring Constant", -2e-06, -2e-06, -1e-08, 1, 0};
cvar spr_len = {"Spring Rest Len", 90, 90, 90, 100, 0};

// ---------------------------------------------------------------------------
// Defaults and control variables

void psys_set_defaults(psys *ps) {
    ps->count = 10000;
    ps->image_path = nullptr;
    ps->region_x0 = 0;
    ps->region_x1 = 1;
    ps->region_y0 = 0;
    ps->region_y1 = 1;
    ps->life_span = 1000;
    ps->damping = 0.999999;
    ps->gravity_x = 0;
    ps->gravity_y = 0.0005;
    ps->pull_x = 0.00005;
    ps->pull_y = 0.00005;
    ps->pull_on = 0;
    ps->damping_on = 1;
    ps->gravity_on = 0;
    psys_set_spr(ps);
}

void psys_reset_defaults(psys *) {
    cvar *const all[] = {&maxspeed, &gra_frc, &ang_frc, &oth_frc, &spr_frc, &spr_len};
    for (cvar *v : all) v->value = v->default_value;
}

// The variable in a slot of the control set, or null for an empty slot (or a
// slot number outside the set).
static cvar *slot_var(psys *ps, int slot) {
    if (slot < 0 || slot > 3) return nullptr;
    return ps->cset[slot];
}

// Both bounds are strict, so a stepped value never lands on one.
void psys_inc_var(psys *ps, int slot) {
    cvar *v = slot_var(ps, slot);
    if (v == nullptr) return;
    double stepped = v->value + v->step;
    if (v->max > stepped)
        v->value = stepped;
    else
        printf("%s is at max value %e\n", v->name, v->value);
}

void psys_dec_var(psys *ps, int slot) {
    cvar *v = slot_var(ps, slot);
    if (v == nullptr) return;
    double stepped = v->value - v->step;
    if (v->min < stepped)
        v->value = stepped;
    else
        printf("%s is at min value %e\n", v->name, v->value);
}

void show_cvar(psys *ps, int slot) {
    cvar *v = slot_var(ps, slot);
    if (v == nullptr) return;
    printf("%30s : ", v->name);
    printf("%e  ", v->value);
    printf("(%e -> %e ->  %e by %e)\n", v->min, v->default_value, v->max, v->step);
}

void psys_show_cset(psys *ps) {
    for (int slot = 0; slot < 4; ++slot) show_cvar(ps, slot);
}

// ---------------------------------------------------------------------------
// Lifecycle and motion

// One coordinate inside the integer spawn bounds lo..hi. The width is taken in
// integers first (wide enough never to overflow), then scaled.
static double spawn_coord(int lo, int hi, long r) {
    long long width = static_cast<long long>(hi) - lo;
    return static_cast<double>(lo) + static_cast<double>(width) * (r / RANDOM_SCALE);
}

// Draws, in this order: random() for y, random() for x, random() for the
// life, then rand() twice for the direction.
void psys_resetparticle(psys *ps, particle *p) {
    if (p->life == FIXED_LIFE) {
        // Kept as the program has always printed it.
        puts("Asked to reset a fixed particle ? Why!?");
        return;
    }
    long r1 = random();
    p->y = spawn_coord(ps->region_y0, ps->region_y1, r1);
    long r2 = random();
    p->x = spawn_coord(ps->region_x0, ps->region_x1, r2);
    long r3 = random();
    p->life = static_cast<int>(ps->life_span + r3 % ps->life_span);
    int k1 = rand() % 10;
    int k2 = rand() % 10;
    // Never zero in either component; the first motion step sets the speed.
    p->vx = (k1 / 100000.0 + (-5.01e-05)) / 100000.0;
    p->vy = (k2 / 100000.0 + (-5.01e-05)) / 100000.0;
}

void psys_reset_all_particles(psys *ps) {
    for (int i = 0; i < ps->count; ++i) psys_resetparticle(ps, &ps->particles[i]);
}

void psys_automovep(psys *ps) {
    for (int i = ps->count - 1; i >= 1; --i) ps->force(ps, &ps->particles[i - 1], &ps->particles[i]);
    psys_move(ps);
}

// Brings p to the speed 1 / scale in its own direction; a velocity of exactly
// zero stays zero.
static void normalise_scaled(particle *p, double scale) {
    double s = sqrt(p->vx * p->vx + p->vy * p->vy) * scale;
    if (s > 0) {
        p->vx = p->vx / s;
        p->vy = p->vy / s;
    }
}

// Brings p to the speed m / SPEED_SCALE in its own direction.
static void normalise_speed(particle *p, double m) { normalise_scaled(p, SPEED_SCALE / m); }

void psys_move_particle(const psys *ps, double scale, particle *p) {
    if (ps->damping_on) {
        p->vx = ps->damping * p->vx;
        p->vy = ps->damping * p->vy;
    }
    if (ps->pull_on) {
        if (p->x < CENTRE)
            p->vx += ps->pull_x;
        else
            p->vx -= ps->pull_x;
        if (p->y < CENTRE)
            p->vy += ps->pull_y;
        else
            p->vy -= ps->pull_y;
    }
    normalise_scaled(p, scale);
    if (ps->gravity_on) {
        p->vy += ps->gravity_y;
        p->vx += ps->gravity_x;
    }

    // Walls turn the velocity to point inwards; they do not negate it.
    double x = p->x + p->vx;
    double y = p->y + p->vy;
    if (x > 1) {
        x = 1;
        p->vx = -fabs(p->vx);
    } else if (x < 0) {
        x = 0;
        p->vx = fabs(p->vx);
    }
    if (y > 1) {
        y = 1;
        p->vy = -fabs(p->vy);
    } else if (y < 0) {
        y = 0;
        p->vy = fabs(p->vy);
    }
    p->x = x;
    p->y = y;
}

void psys_move(psys *ps) {
    const double scale = SPEED_SCALE / ps->cset[0]->value;
    for (int i = ps->count - 1; i >= 0; --i) {
        particle *p = &ps->particles[i];
        if (p->life == FIXED_LIFE) continue;

        // A particle whose life ran out is respawned and moves on from its
        // new place in this same frame.
        int was = p->life;
        p->life = was - 1;
        if (was == 0) psys_resetparticle(ps, p);
        psys_move_particle(ps, scale, p);
    }
}

void psys_toggle_gravity(psys *ps) { ps->gravity_on = ps->gravity_on == 0 ? 1 : 0; }

// ---------------------------------------------------------------------------
// Pairings and spawn regions the program itself does not use

void psys_frc_to_next(psys *ps) {
    for (int i = ps->count - 1; i >= 1; --i) ps->force(ps, &ps->particles[i - 1], &ps->particles[i]);
}

void psys_frc_to_lead(psys *ps) {
    for (int i = ps->count - 1; i >= 0; --i) ps->force(ps, &ps->particles[i], &ps->particles[0]);
}

void psys_frc_to_all(psys *ps) {
    for (int a = ps->count - 1; a >= 1; --a)
        for (int b = a - 1; b >= 0; --b) ps->force(ps, &ps->particles[a], &ps->particles[b]);
}

// Truncation toward zero; values beyond the int range (and NaN, as 0) are
// held at the nearest representable bound instead of overflowing.
static int truncate_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return INT_MAX;
    if (v <= -2147483648.0) return INT_MIN;
    return static_cast<int>(v);
}

void psys_set_region(psys *ps, double x0, double x1, double y0, double y1) {
    ps->region_x0 = truncate_to_int(x0);
    ps->region_x1 = truncate_to_int(x1);
    ps->region_y0 = truncate_to_int(y0);
    ps->region_y1 = truncate_to_int(y1);
}

void psys_rand_edge_starts(psys *ps) {
    static const int right[4] = {1, 1, 0, 1};
    static const int bottom[4] = {1, 0, 1, 1};
    long r = random() % 4;
    ps->region_x0 = 0;
    ps->region_y0 = 0;
    ps->region_x1 = right[r];
    ps->region_y1 = bottom[r];
}

// The box is fractional but the region is held in integers, so every bound
// truncates to 0.
void psys_rand_burstpt(psys *ps) {
    double a = random() / RANDOM_SCALE * 0.75 + 0.1;
    double b = random() / RANDOM_SCALE * 0.75 + 0.1;
    psys_set_region(ps, a, a + 0.05, b, b + 0.05);
}

// ---------------------------------------------------------------------------
// Force modes

static void install_mode(psys *ps, psys_force_fn law, cvar *slot1, cvar *slot2) {
    ps->force = law;
    ps->cset[0] = &maxspeed;
    ps->cset[1] = slot1;
    ps->cset[2] = slot2;
    ps->cset[3] = nullptr;
}

void psys_set_gra(psys *ps) { install_mode(ps, psys_frc_gra, &gra_frc, nullptr); }
void psys_set_ang(psys *ps) { install_mode(ps, psys_frc_ang, &ang_frc, nullptr); }
void psys_set_oth(psys *ps) { install_mode(ps, psys_frc_oth, &oth_frc, nullptr); }
void psys_set_spr(psys *ps) { install_mode(ps, psys_frc_spr, &spr_frc, &spr_len); }
void psys_set_stf(psys *ps) { install_mode(ps, psys_frc_stf, nullptr, nullptr); }

const psys_mode PSYS_MODES[5] = {{"gravitational", psys_set_gra},
                                 {"angular", psys_set_ang},
                                 {"other", psys_set_oth},
                                 {"spring", psys_set_spr},
                                 {"starfield", psys_set_stf}};

void psys_set_rnd(psys *ps) { PSYS_MODES[random() % 5].set(ps); }

// The laws work out their changes from the state at entry and store them in
// the listed order, each on the value the particle holds at that moment.

// The difference of the squares, not their sum; when they are equal f is
// infinite and the changes are zero.
void psys_frc_gra(psys *, particle *a, particle *b) {
    double dx = a->x - b->x;
    double dy = a->y - b->y;
    double f = 4.0 / (dx * dx - dy * dy);
    double ex = dy / f;
    double ey = dx / f;
    a->vx = a->vx - ex;
    a->vy = a->vy - ey;
    b->vx = b->vx - ex;
    b->vy = b->vy - ey;
}

// Nudges a's velocity a quarter turn toward the side of its path where b
// lies, and b the opposite way, then brings both to the common speed.
void psys_frc_ang(psys *ps, particle *a, particle *b) {
    double k = ps->cset[1]->value;
    double p = a->vy / k;
    double q = a->vx / k;
    double t = (b->x - a->x) * p - (b->y - a->y) * q;
    if (t > 0) {
        a->vx = a->vx + p;
        a->vy = a->vy - q;
        b->vx = b->vx - p;
        b->vy = b->vy + q;
    } else {
        a->vx = a->vx - p;
        b->vx = b->vx + p;
        a->vy = a->vy + q;
        b->vy = b->vy - q;
    }
    const double m = ps->cset[0]->value;
    normalise_speed(a, m);
    normalise_speed(b, m);
}

// Pushes a toward b in proportion to its own speed; a zero offset in an axis
// counts as 1.0 there.
void psys_frc_oth(psys *ps, particle *a, particle *b) {
    double dx = b->x - a->x;
    double dy = b->y - a->y;
    double ux = dx != 0 ? dx : 1.0;
    double uy = dy != 0 ? dy : 1.0;
    double sp = sqrt(a->vx * a->vx + a->vy * a->vy);
    double k = ps->cset[1]->value;
    a->vx = ux * k * sp + a->vx;
    a->vy = uy * k * sp + a->vy;
}

// Hooke's law between a and b; particles that (nearly) coincide bounce apart
// horizontally instead. A fixed a pulls with an eighth of the force.
void psys_frc_spr(psys *ps, particle *a, particle *b) {
    double dx = a->x - b->x;
    double dy = a->y - b->y;
    double d = sqrt(dx * dx + dy * dy);
    if (d < SPRING_NEAR) {
        a->vx = -a->vx;
        b->vx = -b->vx;
        return;
    }
    double e = (d - ps->cset[2]->value) * ps->cset[1]->value;
    if (a->life == FIXED_LIFE) e = e * SPRING_FIXED_FACTOR;
    a->vx = a->vx - dx * e;
    a->vy = a->vy - dy * e;
    b->vx = b->vx + dx * e;
    b->vy = b->vy + dy * e;
    normalise_speed(a, ps->cset[0]->value);
}

// Drives a outward from the centre; a particle that reaches the outer rim is
// put back at the centre.
void psys_frc_stf(psys *ps, particle *a, particle *) {
    if (a->x > STAR_RIM_HI || a->x < STAR_RIM_LO || a->y > STAR_RIM_HI || a->y < STAR_RIM_LO) {
        a->x = star_spawn_coord(random());
        a->y = star_spawn_coord(random());
    }
    a->vx = a->vx + (a->x - CENTRE) / STAR_DRIVE;
    a->vy = a->vy + (a->y - CENTRE) / STAR_DRIVE;
    normalise_speed(a, ps->cset[0]->value);
}

// A softened inverse-square attraction. It reads slot 1 of whatever mode is
// installed: with that slot empty, or where the changes would not be finite
// (two particles at the same place, a zero constant), it leaves both alone
// rather than filling their velocities with infinities and NaN.
void psys_frc_sgra(psys *ps, particle *a, particle *b) {
    if (ps->cset[1] == nullptr) return;
    double dx = a->x - b->x;
    double dy = a->y - b->y;
    double k = ps->cset[1]->value;
    double f1 = k / (dx * dx + dy * dy);
    double f2 = ((-f1) * f1) * f1 / k;
    if (!std::isfinite(f1) || !std::isfinite(f2)) return;
    a->vx = a->vx - f1 * dx;
    a->vy = a->vy - f1 * dy;
    b->vx = b->vx + f1 * dx;
    b->vy = b->vy + f1 * dy;
    a->vx = a->vx - f2 * dx;
    a->vy = a->vy - f2 * dy;
    b->vx = b->vx + f2 * dx;
    b->vy = b->vy + f2 * dy;
}

void psys_stick(particle *p, particle *q) {
    p->vx = q->vx + p->vx;
    p->vy = q->vy + p->vy;
}
