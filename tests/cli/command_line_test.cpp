// The command line of both programs: usage text, help requests and limits.
// Everything here ends before or at the display set-up, so no X server is used.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/proc.h"

namespace {

// A display name that cannot be reached: nothing listens on its socket.
std::string unreachable_display() {
    for (int n = 64999;; --n) {
        struct stat st;
        std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        if (stat(sock.c_str(), &st) != 0) return ":" + std::to_string(n);
    }
}

const char kUsageBody[] =
    "\t-h        : Show this help\n"
    "\t-l <num>  : Only show <num> frames\n"
    "\t-n <num>  : set number of particles to <num>\n"
    "\t-x <xres> : set x resolution\n"
    "\t-y <yres> : set y resolution\n"
    "\t-r        : run in root window\n"
    "\t-m        : randomly change force modes\n"
    "\t-b <0-255>: Set particle brightness\n"
    "\t-f        : Show frames per second\n"
    "\t-c <color>: Run with a colormap based on a given color\n"
    "\t          : e.g. -c 0xffaa66 for shades of orange\n"
    "e\t          :      -c 0xaaccff for shades of something?!\n"
    "hello world!\n";

class CommandLine : public ::testing::TestWithParam<const char *> {
protected:
    std::string prog() const { return GetParam(); }
    RunResult run(std::vector<std::string> args, std::vector<EnvChange> env = {}) {
        args.insert(args.begin(), prog());
        if (env.empty()) env.push_back({"DISPLAY", unreachable_display()});
        return run_program(args, env, 30);
    }
    // What a run that gets as far as the display set-up ends with.
    static std::string display_failure(const std::string &display) {
        return "Unable to open display " + display + "\nUnable to initialise graphics routines\n";
    }
};

TEST_P(CommandLine, HelpRequestsPrintTheUsageAndExitZero) {
    const std::string usage = prog() + "\n" + kUsageBody;
    for (const auto &args : std::vector<std::vector<std::string>>{
             {"-h"}, {"-f"}, {"-n", "5", "-h", "-l", "3"}, {"-rR", "-f", "-x", "10"}, {"-l", "10001", "-h"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 0) << args[0];
        EXPECT_EQ(r.out, usage) << "the usage text alone, no limits: " << args[0];
        EXPECT_EQ(r.err, "") << args[0];
    }
}

TEST_P(CommandLine, BadLetterAndMissingArgumentGetDiagnosticThenUsage) {
    const std::string usage = prog() + "\n" + kUsageBody;
    for (const auto &args : std::vector<std::vector<std::string>>{{"-z"}, {"-n"}, {"-l", "5", "-Q", "-n", "7"}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, usage);
        EXPECT_NE(r.err, "") << "getopt's own diagnostic";
        EXPECT_EQ(r.err.find("Unable to open display"), std::string::npos) << "no display is opened";
    }
}

TEST_P(CommandLine, UsageNamesTheProgramAsInvoked) {
    RunResult r = run_program({"bash", "-c", "exec -a my-vorbles \"$0\" -h", prog()}, {}, 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("my-vorbles\n") + kUsageBody);
}

TEST_P(CommandLine, LimitsPrintInOrderBeforeTheDisplayIsOpened) {
    const std::string display = unreachable_display();
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    // Each limit at its bounds is the options' own test; here, that the
    // program prints them, in their order, before it opens the display.
    const std::vector<Case> cases = {
        {{}, ""},
        {{"-n", "-7", "-l", "20000", "-m", "12345"},
         "Showing 20000 frames and quitting\n"
         "Limiting Number of frames before changing to next force mode to max 10000 from 12345\n"
         "Limiting Number of frames to show to max 10000 from 20000\n"
         "Limiting numParticles to min 1 from -7\n"},
        // A repeated option overrides the earlier one; sizes are not limited here.
        {{"-l", "20000", "-l", "3", "-x", "99999", "-y", "-3"}, "Showing 3 frames and quitting\n"},
    };
    for (const auto &c : cases) {
        RunResult r = run(c.args, {{"DISPLAY", display}});
        std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + c.args[1];
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.out, c.out) << what;
        EXPECT_EQ(r.err, display_failure(display)) << what;
    }
}

TEST_P(CommandLine, UnsetDisplayIsReportedAsNull) {
    RunResult r = run({"-l", "1"}, {{"DISPLAY", std::nullopt}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Showing 1 frames and quitting\n");
    EXPECT_EQ(r.err, display_failure("(null)"));
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, CommandLine, ::testing::Values(VORBLES_BIN, VORBLES_PLAIN_BIN),
                         [](const auto &info) {
                             return std::string(info.param).find("plain") != std::string::npos ? "plain" : "shm";
                         });

}  // namespace
