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

TEST(Options, LimitsBringValuesIntoRangeInOrderAndSaySo) {
    Parsed p({"-n", "2000001", "-l", "-5", "-m", "10001"});
    testing::internal::CaptureStdout();
    apply_limits(&p.ps, &p.s);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Showing -5 frames and quitting\n"
              "Limiting Number of frames before changing to next force mode to max 10000 from 10001\n"
              "Limiting Number of frames to show to min 0 from -5\n"
              "Limiting numParticles to max 2000000 from 2000001\n");
    EXPECT_EQ(p.s.mode_period, 10000);
    EXPECT_EQ(p.s.frame_limit, 0);
    EXPECT_EQ(p.ps.count, 2000000);

    Parsed edge({"-n", "0", "-l", "10000", "-m", "-1"});
    testing::internal::CaptureStdout();
    apply_limits(&edge.ps, &edge.s);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(edge.s.mode_period, 0);
    EXPECT_EQ(edge.s.frame_limit, 10000);
    EXPECT_EQ(edge.ps.count, 1);
}

}  // namespace
