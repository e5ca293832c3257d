// The display tests' private servers, one per kind; a second connection to
// look at what the program put there and its segments come from tests/support.
#pragma once

#include "support/shm.h"
#include "support/window.h"
#include "support/xvfb.h"

enum class Server { depth24, depth24_no_composite, depth16, no_shm, foreign_user };

// One server per kind, started on first use and kept for the test program.
Xvfb &server(Server kind);

// Whether this test run can start a server under another user (needs root).
bool can_run_foreign_server();
