#include "support/shm.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/proc.h"

std::vector<int> segments_created_by_pid(pid_t creator) {
    std::vector<int> ids;
    std::ifstream in("/proc/sysvipc/shm");
    std::string line;
    std::getline(in, line);  // key shmid perms size cpid lpid ...
    while (std::getline(in, line)) {
        std::istringstream f(line);
        long long key, size;
        int id;
        unsigned perms;
        pid_t cpid;
        if (f >> key >> id >> perms >> size >> cpid && cpid == creator) ids.push_back(id);
    }
    return ids;
}

void expect_no_segment_left(pid_t creator) {
    // A segment marked for removal goes when the server, too, has detached,
    // which it does when it sees the connection close.
    std::vector<int> left = segments_created_by_pid(creator);
    for (int i = 0; i < 150 && !left.empty(); ++i) {
        sleep_s(0.02);
        left = segments_created_by_pid(creator);
    }
    for (int id : left) {
        ADD_FAILURE() << "shared-memory segment " << id << " left by process " << creator;
        shmctl(id, IPC_RMID, nullptr);
    }
}
