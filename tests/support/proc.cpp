#include "support/proc.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace {

std::string temp_path(const char *tag) {
    std::string tmpl = std::string("/tmp/vorbles-test-") + tag + "-XXXXXX";
    int fd = mkstemp(tmpl.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    return tmpl;
}

#ifdef VORBLES_SANITIZED
// Every run writes its AddressSanitizer and LeakSanitizer reports to files of
// its own instead of its standard error, so that a run whose standard error
// is closed, or read by another program (the recorder), is checked all the
// same. Leak checking is on by default on x86-64 Linux; it is asked for here
// so that an environment that turned it off does not hide a leak.
// UndefinedBehaviorSanitizer ignores the log path: its reports stay on
// standard error, where they are looked for, with a stack trace.
void set_sanitizer_options(const std::string &log) {
    const auto add = [](const char *name, const std::string &options) {
        const char *old = getenv(name);
        setenv(name, ((old ? std::string(old) + ":" : "") + options).c_str(), 1);
    };
    add("ASAN_OPTIONS", "detect_leaks=1:log_path=" + log);
    add("UBSAN_OPTIONS", "print_stacktrace=1");
}
#endif

}  // namespace

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

int occurrences(const std::string &s, const std::string &text) {
    int n = 0;
    for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + text.size())) ++n;
    return n;
}

void sleep_s(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

bool wait_until(const std::function<bool()> &done, double timeout_s) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        sleep_s(0.05);
    }
    return true;
}

Process::Process(const std::vector<std::string> &argv, const std::vector<EnvChange> &env)
    : out_path_(temp_path("out")), err_path_(temp_path("err")) {
#ifdef VORBLES_SANITIZED
    sanitizer_log_ = temp_path("sanitizer");
#endif
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        // The program starts as from a terminal: every signal at its default
        // and none blocked. A test runner started in the background ignores
        // SIGINT, and the programs (and the recorder's shell) keep a signal
        // ignored that was ignored when they started.
        for (int sig = 1; sig < NSIG; ++sig) ::signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path_.c_str(), O_WRONLY | O_TRUNC);
        int err = open(err_path_.c_str(), O_WRONLY | O_TRUNC);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
#ifdef VORBLES_SANITIZED
        set_sanitizer_options(sanitizer_log_);
#endif
        for (const auto &[name, value] : env) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
        std::vector<char *> args;
        for (const auto &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
}

Process::~Process() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    } else if (!checked_) {
        check_sanitizer_reports(err());
    }
    unlink(out_path_.c_str());
    unlink(err_path_.c_str());
    if (!sanitizer_log_.empty()) unlink(sanitizer_log_.c_str());
}

bool Process::running() {
    if (reaped_) return false;
    rusage use{};
    pid_t r = wait4(pid_, &wstatus_, WNOHANG, &use);
    if (r == pid_) {
        reaped_ = true;
        max_rss_kb_ = use.ru_maxrss;
    }
    return !reaped_;
}

void Process::signal(int sig) {
    if (!reaped_) kill(pid_, sig);
}

std::string Process::out() const { return slurp(out_path_); }
std::string Process::err() const { return slurp(err_path_); }

bool Process::wait_for(const std::string &text, double timeout_s, bool in_stderr) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    for (;;) {
        if ((in_stderr ? err() : out()).find(text) != std::string::npos) return true;
        if (!running()) return (in_stderr ? err() : out()).find(text) != std::string::npos;
        if (std::chrono::steady_clock::now() > deadline) return false;
        sleep_s(0.02);
    }
}

RunResult Process::wait(double timeout_s) {
    RunResult r;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout_s);
    while (running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            r.timed_out = true;
            kill(pid_, SIGKILL);
            waitpid(pid_, &wstatus_, 0);
            reaped_ = true;
            break;
        }
        sleep_s(0.01);
    }
    if (WIFEXITED(wstatus_)) r.status = WEXITSTATUS(wstatus_);
    r.max_rss_kb = max_rss_kb_;
    if (WIFSIGNALED(wstatus_)) r.signal = WTERMSIG(wstatus_);
    r.out = out();
    r.err = err();
    check_sanitizer_reports(r.err);
    return r;
}

// The reports land in <log>.<pid>, one file per process of the run that had
// any (the program itself, or the one a shell or the recorder started).
void Process::check_sanitizer_reports(const std::string &err) {
    checked_ = true;
    if (sanitizer_log_.empty()) return;
    for (const char *mark : {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "runtime error:"})
        if (err.find(mark) != std::string::npos) {
            ADD_FAILURE() << "sanitizer report in standard error:\n" << err;
            break;
        }
    const std::filesystem::path log(sanitizer_log_);
    const std::string prefix = log.filename().string() + ".";
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(log.parent_path(), ignored)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) != 0) continue;
        ADD_FAILURE() << "sanitizer report of a run:\n" << slurp(entry.path().string());
        std::filesystem::remove(entry.path(), ignored);
    }
}

RunResult run_program(const std::vector<std::string> &argv, const std::vector<EnvChange> &env, double timeout_s) {
    Process p(argv, env);
    return p.wait(timeout_s);
}

std::string shell(const std::string &command) {
    std::string result;
    FILE *f = popen(command.c_str(), "r");
    if (!f) return result;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) result.append(buf, n);
    pclose(f);
    return result;
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "vorbles-test-XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path = templ;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string path_without(const TempDir &dir, const std::set<std::string> &hidden) {
    namespace fs = std::filesystem;
    const fs::path bin = fs::path(dir.path) / "path-without";
    fs::create_directories(bin);
    const char *path = getenv("PATH");
    std::istringstream entries(path ? path : "");
    for (std::string entry; std::getline(entries, entry, ':');) {
        std::error_code failed;
        for (const fs::directory_entry &program : fs::directory_iterator(entry, failed)) {
            const fs::path name = program.path().filename();
            if (hidden.count(name.string()) || fs::exists(fs::symlink_status(bin / name))) continue;
            fs::create_symlink(program.path(), bin / name, failed);
        }
    }
    return bin.string();
}

void write_script(const std::string &path, const std::string &body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                           std::filesystem::perms::others_exec);
}
