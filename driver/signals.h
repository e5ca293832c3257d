// The termination signals: the flag they set, and the deadline that ends the
// process where the run is blocked and cannot look at the flag.
#pragma once

#include <csignal>

// Set by a caught signal or the quit key; the run ends at its next test.
extern volatile sig_atomic_t cleanup_and_exit;

// Installs setexitevt for SIGHUP, SIGINT, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU,
// SIGXFSZ, SIGVTALRM, SIGPROF, SIGUSR1 and SIGUSR2. A signal that was ignored
// when the program started (under nohup, say) stays ignored.
void signalhandler();

// How long the run has, after the first caught signal, to end on its own:
// past it the process ends at once, with status 1.
constexpr long SIGNAL_GRACE_MS = 1500;
