#include "driver/signals.h"

#include <unistd.h>

#include <ctime>

volatile sig_atomic_t cleanup_and_exit = 0;

namespace {

// The frame loop sees the flag within a frame, but a run blocked in a call
// (an X server that is stopped or never answers, a pipe on standard output
// that nobody reads) never looks at it. So the first caught signal also arms
// a timer, whose own signal ends the process if the run has not ended by
// then. Both handlers use only async-signal-safe calls.
timer_t deadline;
bool have_deadline = false;
volatile sig_atomic_t deadline_armed = 0;

void end_now(int) { _exit(1); }

void setexitevt(int) {
    cleanup_and_exit = 1;
    if (!have_deadline || deadline_armed) return;
    deadline_armed = 1;
    itimerspec when{};
    when.it_value.tv_sec = SIGNAL_GRACE_MS / 1000;
    when.it_value.tv_nsec = SIGNAL_GRACE_MS % 1000 * 1000000L;
    timer_settime(deadline, 0, &when, nullptr);
}

void catch_signal(int sig) {
    struct sigaction current;
    if (sigaction(sig, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
    signal(sig, setexitevt);
}

// The timer signals with a real-time signal of its own, which nothing else sends.
void make_deadline() {
    const int sig = SIGRTMIN;
    struct sigaction act {};
    act.sa_handler = end_now;
    sigemptyset(&act.sa_mask);
    if (sigaction(sig, &act, nullptr) != 0) return;
    sigevent ev{};
    ev.sigev_notify = SIGEV_SIGNAL;
    ev.sigev_signo = sig;
    have_deadline = timer_create(CLOCK_MONOTONIC, &ev, &deadline) == 0;
}

}  // namespace

void signalhandler() {
    make_deadline();
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
