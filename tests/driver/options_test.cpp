// The command line read in process: what each option sets, the limits and
// the help requests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "driver/options.h"

namespace {

// The records and settings as main has them when it reads the options.
struct Parsed {
    gfx g{};
    psys ps{};
    run_settings s{};
    int help = -1;
    std::string err;  // getopt's diagnostics

    explicit Parsed(std::vector<std::string> args) {
        psys_set_defaults(&ps);
        set_option_defaults(&g, &s);
        args.insert(args.begin(), "vorbles");
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStderr();
        help = read_options(static_cast<int>(args.size()), argv.data(), &g, &ps, &s);
        err = testing::internal::GetCapturedStderr();
    }
    ~Parsed() { free(ps.image_path); }
};

TEST(Options, NoneLeaveTheDefaults) {
    Parsed p({});
    EXPECT_EQ(p.help, 0);
    EXPECT_EQ(p.g.width, 0);
    EXPECT_EQ(p.g.height, 0);
    EXPECT_EQ(p.g.use_root, 0);
    EXPECT_EQ(p.g.base_color, 0xccaaff);
    EXPECT_EQ(p.ps.count, 10000);
    EXPECT_EQ(p.ps.image_path, nullptr);
    EXPECT_EQ(p.s.brightness, 50);
    EXPECT_EQ(p.s.mode_period, 0);
    EXPECT_EQ(p.s.frame_limit, 0);
}

TEST(Options, EachSetsItsValue) {
    Parsed p({"-x", "640", "-y", "-3", "-n", "123", "-b", "300", "-c", "0xffaa66", "-rR", "-m", "7", "-l", "9", "-i",
              "shape.xbm"});
    EXPECT_EQ(p.help, 0);
    EXPECT_EQ(p.g.width, 640);
    EXPECT_EQ(p.g.height, -3);  // sizes are corrected by the display set-up, not here
    EXPECT_EQ(p.ps.count, 123);
    EXPECT_EQ(p.s.brightness, 44);  // the low byte of 300
    EXPECT_EQ(p.g.base_color, 0xffaa66);
    EXPECT_EQ(p.g.use_root, 1);
    EXPECT_EQ(p.g.alt_renderer, 1);
    EXPECT_EQ(p.s.mode_period, 7);
    EXPECT_EQ(p.s.frame_limit, 9);
    EXPECT_STREQ(p.ps.image_path, "shape.xbm");
}

TEST(Options, NumbersAreReadLeniently) {
    EXPECT_EQ(Parsed({"-b", "256"}).s.brightness, 0);
    EXPECT_EQ(Parsed({"-b", "-1"}).s.brightness, 255);
    EXPECT_EQ(Parsed({"-c", "ffaa66"}).g.base_color, 0xffaa66);
    EXPECT_EQ(Parsed({"-c", "zz"}).g.base_color, 0);
    EXPECT_EQ(Parsed({"-n", "abc"}).ps.count, 0);
}

TEST(Options, RepeatedImageKeepsTheLast) {
    Parsed p({"-i", "first.xbm", "-i", "second.xbm"});
    EXPECT_STREQ(p.ps.image_path, "second.xbm");
}

TEST(Options, HelpIsAskedForByHFBadLetterOrMissingArgument) {
    for (const std::vector<std::string> &args : std::vector<std::vector<std::string>>{
             {"-h"}, {"-f"}, {"-n", "5", "-h", "-l", "3"}, {"-z"}, {"-x", "9", "-n"}}) {
        Parsed p(args);
        EXPECT_EQ(p.help, 1) << args[0];
        const bool diagnosed = args.back() == "-z" || args.back() == "-n";
        EXPECT_EQ(p.err.empty(), !diagnosed) << args.back() << ": " << p.err;
    }
}

// getopt keeps its place between calls; each read starts afresh all the same.
TEST(Options, EveryCallReadsFromTheStart) {
    EXPECT_EQ(Parsed({"-h", "-rR"}).help, 1);
    Parsed again({"-rR", "-l", "4"});
    EXPECT_EQ(again.help, 0);
    EXPECT_EQ(again.g.use_root, 1);
    EXPECT_EQ(again.s.frame_limit, 4);
}

// Each limit at and past its bounds, and all three at once: the frame
// count's line first, then mode period, frames, particles.
TEST(Options, LimitsBringValuesIntoRangeInOrderAndSaySo) {
    struct Case {
        std::vector<std::string> args;
        std::string out;
        int count, mode_period, frame_limit;
    };
    const std::vector<Case> cases = {
        {{}, "", 10000, 0, 0},
        {{"-l", "10001"},
         "Showing 10001 frames and quitting\nLimiting Number of frames to show to max 10000 from 10001\n",
         10000,
         0,
         10000},
        {{"-l", "10000"}, "Showing 10000 frames and quitting\n", 10000, 0, 10000},
        {{"-l", "-5"},
         "Showing -5 frames and quitting\nLimiting Number of frames to show to min 0 from -5\n",
         10000,
         0,
         0},
        {{"-n", "0"}, "Limiting numParticles to min 1 from 0\n", 1, 0, 0},
        {{"-n", "abc"}, "Limiting numParticles to min 1 from 0\n", 1, 0, 0},
        {{"-n", "2000001"}, "Limiting numParticles to max 2000000 from 2000001\n", 2000000, 0, 0},
        {{"-n", "2000000"}, "", 2000000, 0, 0},
        {{"-m", "10001"},
         "Limiting Number of frames before changing to next force mode to max 10000 from 10001\n",
         10000,
         10000,
         0},
        {{"-m", "10000"}, "", 10000, 10000, 0},
        {{"-m", "-1"}, "Limiting Number of frames before changing to next force mode to min 0 from -1\n", 10000, 0, 0},
        {{"-n", "2000001", "-l", "-5", "-m", "10001"},
         "Showing -5 frames and quitting\n"
         "Limiting Number of frames before changing to next force mode to max 10000 from 10001\n"
         "Limiting Number of frames to show to min 0 from -5\n"
         "Limiting numParticles to max 2000000 from 2000001\n",
         2000000,
         10000,
         0},
    };
    for (const Case &c : cases) {
        const std::string what = c.args.empty() ? "(none)" : c.args[0] + " " + c.args[1];
        Parsed p(c.args);
        testing::internal::CaptureStdout();
        apply_limits(&p.ps, &p.s);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out) << what;
        EXPECT_EQ(p.ps.count, c.count) << what;
        EXPECT_EQ(p.s.mode_period, c.mode_period) << what;
        EXPECT_EQ(p.s.frame_limit, c.frame_limit) << what;
    }
}

}  // namespace
