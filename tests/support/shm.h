// The System V shared-memory segments a run of vorbles leaves in the system.
#pragma once

#include <sys/types.h>

#include <vector>

// Ids of the segments created by the process that /proc/sysvipc/shm still lists.
std::vector<int> segments_created_by_pid(pid_t creator);

// Fails the current test for every segment the (ended) process left behind,
// once the X server has had a moment to let go of it, and removes each.
void expect_no_segment_left(pid_t creator);
