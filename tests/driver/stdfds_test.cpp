// The closed standard descriptors are filled with /dev/null before anything
// else is opened; open ones are left as they are. Each case runs in a child
// process, whose descriptors it may close freely.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <string>

#include "driver/stdfds.h"

namespace {

std::string target_of(int fd) {
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, target, sizeof target - 1);
    return n < 0 ? "" : std::string(target, static_cast<size_t>(n));
}

// In a child: closes the descriptors named by the bits of `closed`, fills
// them, and exits 0 when each closed one now reads and writes /dev/null, each
// open one is unchanged, and the next descriptor opened is above 2.
int run_case(unsigned closed) {
    pid_t pid = fork();
    if (pid == 0) {
        int keep = open("/dev/zero", O_RDONLY);  // what the open ones are, distinct from /dev/null
        for (int fd = 0; fd <= 2; ++fd) {
            if (closed & (1u << fd))
                close(fd);
            else
                dup2(keep, fd);
        }
        close(keep);
        if (fill_closed_std_fds() != 1) _exit(10);
        for (int fd = 0; fd <= 2; ++fd) {
            const std::string want = closed & (1u << fd) ? "/dev/null" : "/dev/zero";
            if (target_of(fd) != want) _exit(20 + fd);
            if ((closed & (1u << fd)) && (fcntl(fd, F_GETFL) & O_ACCMODE) != O_RDWR) _exit(30 + fd);
        }
        int next = open("/dev/null", O_RDONLY);
        _exit(next > 2 ? 0 : 40);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardDescriptors, ClosedOnesAreFilledWithDevNull) {
    for (unsigned closed = 0; closed < 8; ++closed) EXPECT_EQ(run_case(closed), 0) << "closed set " << closed;
}

}  // namespace
