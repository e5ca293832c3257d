// The System V shared-memory segments of a run of vorbles: those the system
// holds, and those the program says it created.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

// One segment as /proc/sysvipc/shm lists it.
struct Segment {
    int id = -1;
    unsigned mode = 0;  // permission bits, and SHM_DEST once marked for removal
    pid_t creator = 0;
    long long size = 0;  // bytes
};

// The segment with that id, while the system holds it.
std::optional<Segment> shm_segment(int id);

// Ids of the segments created by the process that the system still holds.
std::vector<int> segments_created_by_pid(pid_t creator);

// Polls until the segment is gone; false when it is still there after the time.
bool shm_gone_within(int id, double seconds);

// Fails the current test for every segment the (ended) process left behind,
// once the X server has had a moment to let go of it, and removes each.
void expect_no_segment_left(pid_t creator);

// The ids vorbles printed in its standard error, "Created Shared memory
// segment ID: %d": one, at start.
std::vector<int> printed_segments(const std::string &err);

// The first of them, or -1.
int printed_shm_id(const std::string &err);
