// Runs a program with arguments and environment changes, and returns its exit
// status, standard output and standard error separately; and small text and
// file helpers for what the runs leave.
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

// One change to the environment: a value to set, or nullopt to unset.
using EnvChange = std::pair<std::string, std::optional<std::string>>;

struct RunResult {
    int status = -1;         // exit status, or -1 when ended by a signal
    int signal = 0;          // the signal that ended it, or 0
    bool timed_out = false;  // killed because it ran past its time limit
    long max_rss_kb = 0;     // its peak resident memory
    std::string out;
    std::string err;
};

class Process {
public:
    Process(const std::vector<std::string> &argv, const std::vector<EnvChange> &env = {});
    ~Process();  // kills a program that still runs
    Process(const Process &) = delete;
    Process &operator=(const Process &) = delete;

    pid_t pid() const { return pid_; }
    bool running();
    void signal(int sig);
    std::string out() const;  // what it has written so far
    std::string err() const;
    // Waits until the text appears in its standard output (or error); false on timeout or exit.
    bool wait_for(const std::string &text, double timeout_s, bool in_stderr = false);
    // Waits for the end; past the limit the program is killed and timed_out is set.
    // In the sanitized build, a sanitizer report of the run fails the test.
    RunResult wait(double timeout_s);

private:
    void check_sanitizer_reports(const std::string &err);

    pid_t pid_ = -1;
    bool reaped_ = false;
    bool checked_ = false;
    int wstatus_ = 0;
    long max_rss_kb_ = 0;
    std::string out_path_, err_path_, sanitizer_log_;
};

RunResult run_program(const std::vector<std::string> &argv, const std::vector<EnvChange> &env = {},
                      double timeout_s = 60);

// Runs a shell command line and returns its standard output (empty on failure).
std::string shell(const std::string &command);

// A file's whole contents ("" when it cannot be read).
std::string slurp(const std::string &path);

// The lines of a text, without their newlines.
std::vector<std::string> lines(const std::string &text);

// The number of times text occurs in s, without overlaps.
int occurrences(const std::string &s, const std::string &text);

// Seconds as a double, for polling loops.
void sleep_s(double seconds);

// Polls until done() holds; false when it still does not after the time.
bool wait_until(const std::function<bool()> &done, double timeout_s);

// A fresh directory under the temporary directory, removed with all it holds
// at the end of the scope.
struct TempDir {
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    std::string operator/(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

// A directory under dir holding links to every program on PATH except the
// hidden ones: a PATH on which only those are missing.
std::string path_without(const TempDir &dir, const std::set<std::string> &hidden);

// Writes an executable shell script (the text after "#!/bin/sh\n") to path.
void write_script(const std::string &path, const std::string &body);
