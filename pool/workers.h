// A pool of threads for the frame's work: started once, kept for the run, and
// handed one job at a time by the thread that owns it. The workers compute
// only; every Xlib call stays on the owning thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

// The most threads a pool runs, the owning thread included.
constexpr int WORKERS_MAX = 64;

// The threads the frame's work should run on: VORBLES_THREADS when it holds a
// whole number from 1 to WORKERS_MAX, else the online processors (1 when they
// cannot be counted, WORKERS_MAX at most).
int workers_wanted();

// One poll of a spinning wait: tells the processor that this is a spin loop.
inline void workers_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

// The number in a VORBLES_THREADS value, or 0 when it is not a whole number
// from 1 to WORKERS_MAX (null, empty, signs, spaces or other characters).
int workers_parse(const char *text);

struct workers {
    // threads in all, the owning thread's included; held to 1 .. WORKERS_MAX.
    // Signals are blocked in the pool's threads, so they keep reaching the
    // owning thread as in a program without a pool.
    explicit workers(int threads);
    ~workers();  // lets the threads finish and joins them
    workers(const workers &) = delete;
    workers &operator=(const workers &) = delete;

    int count() const { return static_cast<int>(threads_.size()) + 1; }

    // Calls job(ctx, part, parts) for part = 0 .. parts - 1 and returns when
    // every call has returned: part 0 on the calling thread, part k on the
    // pool's thread k. parts is held to 1 .. count(). Allocates nothing.
    void run(int parts, void (*job)(void *ctx, int part, int parts), void *ctx);

    // The same for any callable f(part, parts).
    template <class F>
    void run(int parts, F &&f) {
        run(
            parts, [](void *ctx, int part, int n) { (*static_cast<std::remove_reference_t<F> *>(ctx))(part, n); },
            static_cast<void *>(&f));
    }

private:
    void serve(int index);

    // A frame hands out a few jobs in quick succession, so a thread that
    // waits first polls for a short while (SPIN_POLLS polls) before it sleeps
    // on a condition variable: waking a sleeping thread costs about as much
    // as a small job.
    static constexpr int SPIN_POLLS = 4000;

    std::vector<std::thread> threads_;
    std::mutex lock_;
    std::condition_variable start_;  // a new job, or the end
    std::condition_variable done_;   // every pool thread has answered the job
    // Counts the jobs handed out; stored after the job's fields below, which
    // stay as they are until every pool thread has answered the job.
    std::atomic<unsigned long> generation_{0};
    std::atomic<bool> stopping_{false};
    void (*job_)(void *, int, int) = nullptr;
    void *ctx_ = nullptr;
    int parts_ = 0;
    // Pool threads yet to answer the job: all of them answer, those without
    // a part at once, so none can lag behind into the next job.
    std::atomic<int> unanswered_{0};
};
