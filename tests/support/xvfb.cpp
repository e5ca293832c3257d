#include "support/xvfb.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <utility>

std::vector<std::string> xvfb_depth24() { return {"-screen", "0", "1920x1080x24", "-noreset"}; }
std::vector<std::string> xvfb_depth16() {
    return {"-screen", "0", "1920x1080x16", "-noreset", "-extension", "Composite"};
}
std::vector<std::string> xvfb_depth24_no_composite() {
    return {"-screen", "0", "1920x1080x24", "-noreset", "-extension", "Composite"};
}

Xvfb::Xvfb(std::vector<std::string> extra) { start("Xvfb", "", std::move(extra)); }

Xvfb::Xvfb(const std::string &program, const Xvfb &host, std::vector<std::string> extra) {
    start(program, host.display(), std::move(extra));
}

void Xvfb::start(const std::string &program, const std::string &host, std::vector<std::string> extra) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // The server must not outlive the test program, even if it crashes.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(fds[0]);
        int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(devnull, 1);
        dup2(devnull, 2);
        if (!host.empty()) setenv("DISPLAY", host.c_str(), 1);
        std::vector<std::string> args = {program, "-displayfd", std::to_string(fds[1]), "-nolisten", "tcp"};
        args.insert(args.end(), extra.begin(), extra.end());
        std::vector<char *> argv;
        for (auto &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execvp(program.c_str(), argv.data());
        _exit(127);
    }
    close(fds[1]);
    // Xvfb picks a free display number and writes it once it accepts connections.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n <= 0 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (number.empty()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error(program + " did not start (is its package installed?)");
    }
    name_ = ":" + number;
}

Xvfb::~Xvfb() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}
