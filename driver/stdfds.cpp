#include "driver/stdfds.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

int fill_closed_std_fds() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free number is taken, and the ones below are open by now.
        int got = open("/dev/null", O_RDWR);
        if (got < 0) return 0;
        if (got != fd) {
            const int ok = dup2(got, fd) == fd;
            close(got);
            if (!ok) return 0;
        }
    }
    return 1;
}
