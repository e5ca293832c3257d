#include "particles/workers.h"

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

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
    threads_.reserve(static_cast<size_t>(threads - 1));
    for (int k = 1; k < threads; ++k) threads_.emplace_back(&workers::serve, this, k);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

workers::~workers() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
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
    {
        std::lock_guard<std::mutex> hold(lock_);
        job_ = job;
        ctx_ = ctx;
        parts_ = parts;
        unfinished_ = parts - 1;
        ++generation_;
    }
    start_.notify_all();
    job(ctx, 0, parts);
    std::unique_lock<std::mutex> hold(lock_);
    done_.wait(hold, [this] { return unfinished_ == 0; });
}

void workers::serve(int index) {
    unsigned long seen = 0;
    for (;;) {
        void (*job)(void *, int, int);
        void *ctx;
        int parts;
        {
            std::unique_lock<std::mutex> hold(lock_);
            start_.wait(hold, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            if (index >= parts_) continue;  // this job has fewer parts
            job = job_;
            ctx = ctx_;
            parts = parts_;
        }
        job(ctx, index, parts);
        std::lock_guard<std::mutex> hold(lock_);
        if (--unfinished_ == 0) done_.notify_one();
    }
}
