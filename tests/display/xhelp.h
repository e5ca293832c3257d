// Helpers for the display tests: the private servers, a second connection to
// look at what the program put there, and the segments the system holds.
#pragma once

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <memory>
#include <set>
#include <string>

#include "support/xclient.h"
#include "support/xvfb.h"

enum class Server { depth24, depth24_no_composite, depth16, no_shm, foreign_user };

// One server per kind, started on first use and kept for the test program.
Xvfb &server(Server kind);

// Whether this test run can start a server under another user (needs root).
bool can_run_foreign_server();

// A connection of the test's own, closed at the end of the scope.
struct Peer {
    explicit Peer(const Xvfb &x);
    ~Peer();
    Display *d;
};

// Window ids under the root whose title is the given one.
std::set<Window> windows_titled(Display *d, const std::string &title);

// The ids of the shared-memory segments that `ipcs -m` lists.
std::set<int> shm_segments();

// The line `ipcs -m` shows for the segment, or "" when there is none.
std::string ipcs_line(int id);

// The id printed in "Created Shared memory segment ID: %d", or -1.
int printed_shm_id(const std::string &err);

// Polls until the segment is gone; false when it is still there after the time.
bool shm_gone_within(int id, double seconds);
