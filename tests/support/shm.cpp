#include "support/shm.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <fstream>
#include <sstream>

#include "support/proc.h"

namespace {

std::vector<Segment> all_segments() {
    std::vector<Segment> all;
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);  // key shmid perms size cpid lpid ...; perms in octal
    while (std::getline(in, line)) {
        std::istringstream f(line);
        long long key;
        Segment s;
        if (f >> key >> s.id >> std::oct >> s.mode >> std::dec >> s.size >> s.creator) all.push_back(s);
    }
    return all;
}

}  // namespace

std::optional<Segment> shm_segment(int id) {
    for (const Segment &s : all_segments())
        if (s.id == id) return s;
    return std::nullopt;
}

std::vector<int> segments_created_by_pid(pid_t creator) {
    std::vector<int> ids;
    for (const Segment &s : all_segments())
        if (s.creator == creator) ids.push_back(s.id);
    return ids;
}

bool shm_gone_within(int id, double seconds) {
    return wait_until([id] { return !shm_segment(id); }, seconds);
}

void expect_no_segment_left(pid_t creator) {
    // A segment marked for removal goes when the server, too, has detached,
    // which it does when it sees the connection close.
    wait_until([creator] { return segments_created_by_pid(creator).empty(); }, 3);
    for (int id : segments_created_by_pid(creator)) {
        ADD_FAILURE() << "shared-memory segment " << id << " left by process " << creator;
        shmctl(id, IPC_RMID, nullptr);
    }
}

std::vector<int> printed_segments(const std::string &err) {
    const std::string tag = "Created Shared memory segment ID: ";
    std::vector<int> ids;
    for (size_t at = err.find(tag); at != std::string::npos; at = err.find(tag, at + 1))
        ids.push_back(atoi(err.c_str() + at + tag.size()));
    return ids;
}

int printed_shm_id(const std::string &err) {
    const std::vector<int> ids = printed_segments(err);
    return ids.empty() ? -1 : ids.front();
}
