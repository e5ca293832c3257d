// A private X server for one test program: Xvfb on a free display number,
// started on demand and stopped when the object goes (or the test dies).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class Xvfb {
public:
    // extra: arguments after the display, e.g. {"-screen", "0", "1920x1080x24"}.
    explicit Xvfb(std::vector<std::string> extra = {"-screen", "0", "1920x1080x24", "-noreset"});
    // Another server program, such as Xephyr, which shows its screens in
    // windows on the server `host`.
    Xvfb(const std::string &program, const Xvfb &host, std::vector<std::string> extra);
    ~Xvfb();
    Xvfb(const Xvfb &) = delete;
    Xvfb &operator=(const Xvfb &) = delete;

    const std::string &display() const { return name_; }  // ":N"
    pid_t pid() const { return pid_; }

private:
    void start(const std::string &program, const std::string &host, std::vector<std::string> extra);
    pid_t pid_ = -1;
    std::string name_;
};

// Common screens of the test suite.
std::vector<std::string> xvfb_depth24();               // 1920x1080x24, with Composite (adds a depth-32 visual)
std::vector<std::string> xvfb_depth16();               // 1920x1080x16, no Composite: only 16-bit TrueColor
std::vector<std::string> xvfb_depth24_no_composite();  // 1920x1080x24, no depth-32 visual
