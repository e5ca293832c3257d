#include "pool/workers.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <new>
#include <system_error>

int workers_parse(const char *text) {
    if (text == nullptr || *text < '0' || *text > '9') return 0;
    int n = 0;
    for (const char *c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        n = n * 10 + (*c - '0');
        if (n > WORKERS_MAX) return 0;
    }
    return n;
}

int workers_wanted() {
    const int asked = workers_parse(getenv("VORBLES_THREADS"));
    if (asked > 0) return asked;
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online < 1) return 1;
    return online > WORKERS_MAX ? WORKERS_MAX : static_cast<int>(online);
}

workers::workers(int threads) {
    if (threads < 1) threads = 1;
    if (threads > WORKERS_MAX) threads = WORKERS_MAX;
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);  // inherited by the threads
    // A thread that cannot be started (no memory for its stack, a limit on
    // threads) leaves the pool smaller; the work is shared among the rest.
    try {
        threads_.reserve(static_cast<size_t>(threads - 1));
        for (int k = 1; k < threads; ++k) threads_.emplace_back(&workers::serve, this, k);
    } catch (const std::system_error &) {
    } catch (const std::bad_alloc &) {
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

workers::~workers() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_.store(true);
    }
    start_.notify_all();
    for (std::thread &t : threads_) t.join();
}

void workers::run(int parts, void (*job)(void *, int, int), void *ctx) {
    if (parts > count()) parts = count();
    if (parts <= 1) {
        job(ctx, 0, 1);
        return;
    }
    job_ = job;
    ctx_ = ctx;
    parts_ = parts;
    unanswered_.store(count() - 1, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> hold(lock_);
        generation_.fetch_add(1, std::memory_order_release);
    }
    start_.notify_all();
    job(ctx, 0, parts);
    for (int i = 0; i < SPIN_POLLS && unanswered_.load(std::memory_order_acquire) != 0; ++i) workers_relax();
    if (unanswered_.load(std::memory_order_acquire) != 0) {
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, [this] { return unanswered_.load(std::memory_order_acquire) == 0; });
    }
}

void workers::serve(int index) {
    unsigned long seen = 0;
    for (;;) {
        auto ready = [&] { return stopping_.load() || generation_.load(std::memory_order_acquire) != seen; };
        for (int i = 0; i < SPIN_POLLS && !ready(); ++i) workers_relax();
        if (!ready()) {
            std::unique_lock<std::mutex> hold(lock_);
            start_.wait(hold, ready);
        }
        if (stopping_.load()) return;
        seen = generation_.load(std::memory_order_acquire);
        if (index < parts_) job_(ctx_, index, parts_);
        if (unanswered_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            // Taken and let go, so that the owner is either still before its
            // check or already waiting when it is told.
            { std::lock_guard<std::mutex> hold(lock_); }
            done_.notify_one();
        }
    }
}
