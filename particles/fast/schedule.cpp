// The schedule of the fast step. On one thread the array is swept as one
// part; then the painting, then the respawns. On a pool of threads the array
// is cut into parts of whole blocks counted from the top, so each part's
// blocks and chunks are those of the step on one thread, and only the lowest
// part has the part block at index 0. There are many parts per thread, and
// each thread takes the next one when it finishes the last: the owning
// thread from the top down, the others from the bottom up, until they meet.
// So a thread slowed down (by the law's data or by the rest of the machine)
// does not hold the others up. The owning thread notes, before the sweep,
// what each part needs of its neighbours (their end particles as they were
// before the step), since the neighbours change them at the same time.
//
// Every call of random() and rand() stays on the owning thread and in the
// literal step's order. The owning thread sweeps its parts one after the
// other from the top, so it draws their re-placements as it goes; the parts
// below the meeting point put theirs off. Once done sweeping, the owning
// thread draws for those, part by part from the top as the parts are swept,
// and any thread then finishes the particles and paints them. After the job
// the owning thread does all respawns, each part's put off by its sweep, from
// the top part down and in descending order within a part, and paints them.
//
// Each thread paints into the buffer (the owning thread) or a private buffer
// of its own: once the parts are all taken, it paints whole parts as they are
// swept, skipping the particles whose step finishes later (PSYS_NO_CELL).
// Last, the private buffers are added into the buffer by bands. Saturating
// addition of amounts of zero or more gives the same byte in any order, so
// the picture is the one painted by one thread.
#include "particles/fast/schedule.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "particles/psys-paint.h"
#include "particles/psys2d.h"
#include "particles/random-lease.h"
#include "pool/workers.h"

namespace fast {
namespace {

// Parts per thread: enough that the threads finish close together, few
// enough that each part is long (at 2,000,000 particles on two threads,
// 62,500 particles each).
constexpr int PARTS_PER_THREAD = 16;

// The stores of the sweep's indices, streamed on x86-64, seen by other loads.
inline void fence_streamed() {
#if defined(__x86_64__)
    _mm_sfence();
#endif
}

// The part's respawns, highest index first, each followed by the motion step
// from damping on (restating psys_move's respawn with the scalar rules
// themselves) and painted into the buffer (when the step paints). Past
// PENDING_CAP the part is scanned for them instead: the sweep has aged every
// particle that moves, so a life of -1 now means exactly that the life ran
// out in this step (live particles are at 0 or more, fixed ones at
// FIXED_LIFE), and a respawned particle's life is positive again.
void respawn_part(const step_params &sp, const canvas &cv, const part &pt) {
    particle *const ps = sp.particles;
    auto respawn = [&](int i) {
        particle *p = &ps[i];
        psys_resetparticle(sp.system, p);
        psys_move_particle(sp.system, sp.scale, p);
        if (cv.buffer != nullptr)
            psys_paint_at(cv.buffer, psys_paint_cell(p->x, p->y, cv.wspan, cv.hspan, cv.width), cv.raised);
    };
    if (!pt.pending_lost) {
        for (int j = 0; j < pt.pending_count; ++j) respawn(pt.pending[j]);
    } else {
        for (int i = pt.hi - 1; i >= pt.lo; --i)
            if (ps[i].life == -1) respawn(i);
    }
}

// The whole step on one thread: one part, the painting, the respawns.
void step_alone(const step_params &sp, const canvas &cv, const law_build &build) {
    part pt;
    pt.lo = 0;
    pt.hi = sp.count;
    {
        std::optional<random_lease> draws;  // for a law that re-places; handed back before the respawns draw
        if (build.place != nullptr) pt.draws = &draws.emplace();
        build.sweep(sp, cv, pt);
    }
    if (cv.buffer != nullptr) {
        fence_streamed();
        // A pass of its own: interleaved with the stream of records, the
        // scattered updates would find the buffer pushed out of the caches.
        psys_paint_cells(cv.buffer, cv.cells, 0, sp.count, cv.raised);
    }
    respawn_part(sp, cv, pt);
}

// The number of threads for n particles: each with at least min_part of them,
// and at least a block.
int thread_count(int n, int threads, int min_part) {
    const int blocks = (n + BLOCK - 1) / BLOCK;
    const int by_size = n / std::max(min_part, 1);
    return std::max(1, std::min({threads, by_size, blocks}));
}

// The work of one frame's sweep job, which the threads share out among
// themselves: sweeping parts, drawing for the re-placements put off (the
// owning thread only, in order), finishing them, and painting.
struct sweep_job {
    const step_params &sp;
    const canvas &cv;
    kept &st;
    sweep_fn sweep;
    place_fn place;
    int parts;
    bool replaces;  // the law re-places particles
    // The parts not yet taken, packed as top << 32 | bottom: the owning
    // thread takes them from the top (part `top`), the others from the
    // bottom (part `bottom - 1`), until the two meet.
    std::atomic<unsigned long long> untaken;
    std::atomic<int> drawn{0};       // parts 0 .. drawn - 1 have their draws made
    std::atomic<int> next_place{0};  // the next part whose re-placements to finish
    int to_draw = -1;                // the owning thread's copy of `drawn`; -1 while it sweeps
    // The owning thread's draws, held by the job on its thread when the law
    // re-places. Every value drawn writes the lease, so it keeps a cache line
    // apart from the counters the other threads poll.
    alignas(64) std::optional<random_lease> draws;

    sweep_job(const step_params &sp_, const canvas &cv_, kept &st_, const law_build &build, int parts_)
        : sp(sp_),
          cv(cv_),
          st(st_),
          sweep(build.sweep),
          place(build.place),
          parts(parts_),
          replaces(build.place != nullptr),
          untaken(static_cast<unsigned long long>(parts_)) {
        if (replaces)
            draws.emplace();
        else
            drawn = next_place = parts;
    }

    // The next part for the owning thread (from the top) or another (from the
    // bottom); -1 when none is left, with `meet` set to where the two met:
    // the owning thread has swept the parts above it.
    int take(bool from_top, int &meet) {
        unsigned long long ends = untaken.load(std::memory_order_relaxed);
        for (;;) {
            const int top = static_cast<int>(ends >> 32), bottom = static_cast<int>(ends & 0xffffffffu);
            if (top >= bottom) {
                meet = top;
                return -1;
            }
            const unsigned long long next = from_top ? ends + (1ull << 32) : ends - 1;
            if (untaken.compare_exchange_weak(ends, next, std::memory_order_relaxed))
                return from_top ? top : bottom - 1;
        }
    }

    // The owning thread's parts are swept one after the other from the top,
    // so its re-placements can be drawn as it goes, in the literal order; the
    // others put theirs off.
    void sweep_part(int p, bool owner) {
        st.parts[p].replaced = owner ? nullptr : &st.replaced[p];
        st.parts[p].draws = owner && replaces ? &*draws : nullptr;
        sweep(sp, cv, st.parts[p]);
        fence_streamed();  // the indices are seen by the other threads
        st.swept[p].store(true, std::memory_order_release);
    }

    // The owning thread, once done sweeping: the draws for the parts put off
    // and swept so far, in order, two for each particle (x first), as the
    // literal law draws them.
    void draw_swept() {
        while (to_draw < parts && st.swept[to_draw].load(std::memory_order_acquire)) {
            for (deferred &d : st.replaced[to_draw]) {
                d.draw_x = draws->next();
                d.draw_y = draws->next();
            }
            drawn.store(++to_draw, std::memory_order_release);
        }
    }

    // Finishes the re-placements of one part whose draws are made; false
    // when there is none to take now.
    bool place_drawn(unsigned char *into) {
        int p = next_place.load(std::memory_order_relaxed);
        if (p >= drawn.load(std::memory_order_acquire)) return false;
        if (!next_place.compare_exchange_strong(p, p + 1, std::memory_order_relaxed)) return true;
        const std::vector<deferred> &list = st.replaced[p];
        if (!list.empty()) place(sp, cv, list.data(), list.size(), into);
        return true;
    }

    // Does some work that is ready for thread t: the owning thread's draws,
    // then a part's re-placements to finish. False when there was none.
    bool help(int t, unsigned char *into) {
        if (t == 0 && to_draw >= 0) draw_swept();
        return place_drawn(into);
    }

    // Helps until done() holds, giving the processor up now and then in case
    // a thread it waits for needs it.
    template <class F>
    void help_until(int t, unsigned char *into, F done) {
        for (unsigned polls = 1; !done(); ++polls) {
            if (help(t, into)) continue;
            workers_relax();
            if (polls % 64 == 0) std::this_thread::yield();
        }
    }

    // A part to paint: the first swept one that no thread has taken, taken
    // now; -1 once every part is taken. Helping while none is ready, a
    // thread done with the sweep paints any part the others have finished
    // instead of waiting for the one they are still sweeping.
    int take_swept(int t, unsigned char *into) {
        int taken = -1;
        help_until(t, into, [&] {
            bool left = false;
            for (int p = 0; p < parts; ++p) {
                if (st.painted[p].load(std::memory_order_relaxed)) continue;
                left = true;
                if (st.swept[p].load(std::memory_order_acquire) &&
                    !st.painted[p].exchange(true, std::memory_order_relaxed))
                    return (taken = p), true;
            }
            return !left;
        });
        return taken;
    }

    // Thread t's share: parts to sweep while there are any; then the
    // painting, part by part as they are swept (in any order), so that a
    // thread done with the sweep paints while the others finish theirs, and
    // the scattered updates find its buffer in its own caches, not pushed out
    // by the records; last, what is left of the re-placements. The owning thread
    // draws for the parts put off once it is done sweeping.
    void run(int t, unsigned char *into) {
        int meet = 0;
        for (int p; (p = take(t == 0, meet)) >= 0;) sweep_part(p, t == 0);
        if (t == 0 && replaces) {
            to_draw = meet;  // parts above have drawn as they went
            drawn.store(meet, std::memory_order_release);
        }
        if (into != nullptr)
            for (;;) {
                // The draws and re-placements first: the other threads may wait for them.
                while (help(t, into)) {
                }
                const int p = take_swept(t, into);
                if (p < 0) break;
                psys_paint_cells(into, cv.cells, st.parts[p].lo, st.parts[p].hi, cv.raised);
            }
        help_until(t, into, [&] { return next_place.load(std::memory_order_relaxed) >= parts; });
    }
};

// The lists and buffers of a step of `parts` parts on `threads` threads,
// grown on this thread before the job (a pool thread must not throw).
void make_room(kept &st, int parts, int threads, const canvas &cv) {
    if (st.parts.size() < static_cast<size_t>(parts)) st.parts.resize(static_cast<size_t>(parts));
    if (st.replaced.size() < static_cast<size_t>(parts)) st.replaced.resize(static_cast<size_t>(parts));
    // Atomics cannot be moved, so a longer list is made anew.
    if (st.swept.size() < static_cast<size_t>(parts)) {
        st.swept = std::vector<std::atomic<bool>>(static_cast<size_t>(parts));
        st.painted = std::vector<std::atomic<bool>>(static_cast<size_t>(parts));
    }
    if (cv.buffer != nullptr) {
        const size_t size = static_cast<size_t>(cv.size);
        if (st.canvases.size() < static_cast<size_t>(threads - 1)) st.canvases.resize(static_cast<size_t>(threads - 1));
        for (int t = 0; t < threads - 1; ++t)
            if (st.canvases[t].size() < size) st.canvases[t].resize(size);  // zeros, as the merge leaves them
    }
}

void step_threaded(const step_params &sp, const canvas &cv, const law_build &build, kept &st, workers &pool,
                   int threads) {
    particle *const ps = sp.particles;
    const int n = sp.count;
    const int blocks = (n + BLOCK - 1) / BLOCK;
    const int parts = std::min(blocks, threads * PARTS_PER_THREAD);
    make_room(st, parts, threads, cv);

    // Part p (p = 0 at the top) starts blocks_above(p) blocks below the top.
    auto blocks_above = [&](int p) { return static_cast<int>(static_cast<long long>(p) * blocks / parts); };
    for (int p = 0; p < parts; ++p) {
        part &pt = st.parts[p];
        pt.hi = n - blocks_above(p) * BLOCK;
        pt.lo = p == parts - 1 ? 0 : n - blocks_above(p + 1) * BLOCK;
        pt.ahead = 2 * BLOCK;
        pt.above_x = pt.hi < n ? ps[pt.hi].x : 0;
        pt.above_y = pt.hi < n ? ps[pt.hi].y : 0;
        pt.below = pt.lo > 0 ? ps[pt.lo - 1] : particle{};
        pt.pending_count = 0;
        pt.pending_lost = false;
        pt.out_of_memory = false;
        st.replaced[p].clear();
        st.swept[p].store(false, std::memory_order_relaxed);
        st.painted[p].store(false, std::memory_order_relaxed);
    }

    {
        sweep_job job(sp, cv, st, build, parts);  // its lease is handed back before the respawns draw
        pool.run(threads, [&](int t, int) {
            job.run(t, cv.buffer == nullptr ? nullptr : t == 0 ? cv.buffer : st.canvases[t - 1].data());
        });
    }
    for (int p = 0; p < parts; ++p)
        if (st.parts[p].out_of_memory) throw std::bad_alloc();
    for (int p = 0; p < parts; ++p) respawn_part(sp, cv, st.parts[p]);

    if (cv.buffer == nullptr) return;
    const size_t size = static_cast<size_t>(cv.size);
    pool.run(threads, [&](int t, int) {
        const size_t lo = size * t / threads, hi = size * (t + 1) / threads;
        for (int k = 0; k < threads - 1; ++k) psys_paint_merge(cv.buffer, st.canvases[k].data(), lo, hi);
    });
}

}  // namespace

void step(const step_params &sp, const canvas &cv, const law_build &build, kept &st, workers *pool) {
    const int threads = pool != nullptr ? thread_count(sp.count, pool->count(), st.min_part) : 1;
    if (threads > 1)
        step_threaded(sp, cv, build, st, *pool, threads);
    else
        step_alone(sp, cv, build);
}

}  // namespace fast
