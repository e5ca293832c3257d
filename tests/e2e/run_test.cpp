// Whole runs of both programs on a private X server: frame limits, keys sent
// to the real window, signals, root-window mode and bitmap failures.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <memory>

#include "particles/psys-fast.h"
#include "support/proc.h"
#include "support/programs.h"
#include "support/shm.h"
#include "support/window.h"
#include "support/xvfb.h"

namespace {

Xvfb &server() {
    static Xvfb xvfb(xvfb_depth24());
    return xvfb;
}

// The program's output after the help text, up to where it ends.
std::string tail(const std::string &program) { return is_plain(program) ? kPlainCleanup : ""; }

std::string temp_file(const std::string &name, const std::string &contents) {
    std::string path = std::string(VORBLES_BINARY_DIR) + "/e2e-" + name;
    std::ofstream(path) << contents;
    return path;
}

// A running program in its own window.
struct Running {
    Running(const std::string &program, std::vector<std::string> args) {
        args.insert(args.begin(), program);
        proc = std::make_unique<Process>(args, std::vector<EnvChange>{{"DISPLAY", server().display()}});
        EXPECT_TRUE(proc->wait_for("KEYBOARD CONTOLS", 30)) << proc->err();
        window = find_window(c.d);
        EXPECT_NE(window, 0u);
    }
    bool keys(const std::vector<std::string> &k) { return send_keys(c.d, window, k); }
    // Waits until text has been printed n times in all.
    bool wait_count(const std::string &text, int n, double timeout = 20) {
        for (int i = 0; i < timeout * 50; ++i) {
            if (occurrences(proc->out(), text) >= n) return occurrences(proc->out(), text) == n;
            if (!proc->running()) break;
            sleep_s(0.02);
        }
        return occurrences(proc->out(), text) == n;
    }
    Pixels picture() { return read_pixels(c.d, window); }
    Connection c{server().display(), XErrors::ignored};
    std::unique_ptr<Process> proc;
    Window window = 0;
};

class Run : public ::testing::TestWithParam<const char *> {
protected:
    std::string program() const { return GetParam(); }
};

TEST_P(Run, FrameLimitEndsTheRunWithStatusOne) {
    for (int frames : {1, 12}) {
        RunResult r = run_program({program(), "-l", std::to_string(frames), "-x", "120", "-y", "90", "-n", "500"},
                                  {{"DISPLAY", server().display()}}, 60);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out,
                  "Showing " + std::to_string(frames) + " frames and quitting\n" + kKeyboardHelp + tail(program()));
        if (is_plain(program())) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find("Created Shared memory segment ID: "), std::string::npos) << r.err;
            EXPECT_NE(r.err.find("Have attached shm segment at "), std::string::npos) << r.err;
        }
    }
}

// The running program takes the fast step in every frame, with the widest
// instruction set of this machine, in every force mode (-m 1 draws one each
// frame) and on a pool; VORBLES_STEP_REPORT has it say so as it ends.
TEST_P(Run, EveryFrameTakesTheFastStep) {
    const std::string want = std::string("(") + psys_simd_name(psys_simd_best()) + ")\n";
    for (const char *threads : {"1", "2"}) {
        SCOPED_TRACE(threads);
        RunResult r = run_program(
            {program(), "-l", "10", "-m", "1", "-x", "120", "-y", "90", "-n", threads[0] == '1' ? "3000" : "260000"},
            {{"DISPLAY", server().display()}, {"VORBLES_STEP_REPORT", "1"}, {"VORBLES_THREADS", threads}}, 60);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Fast step in 10 of 10 frames " + want), std::string::npos) << r.err;
    }
}

TEST_P(Run, QuitKeyEndsTheRun) {
    Running run(program(), {"-x", "160", "-y", "120", "-n", "800"});
    ASSERT_TRUE(run.keys({"q"}));
    RunResult r = run.proc->wait(30);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kKeyboardHelp + kExitLine + tail(program()));
}

TEST_P(Run, SignalsEndTheRunAfterTheFrameAndLeaveNoSegment) {
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        Running run(program(), {"-x", "160", "-y", "120", "-n", "800"});
        const pid_t pid = run.proc->pid();
        run.proc->signal(sig);
        RunResult r = run.proc->wait(30);
        EXPECT_EQ(r.status, 1) << strsignal(sig);
        EXPECT_EQ(r.out, kKeyboardHelp + kExitLine + tail(program())) << strsignal(sig);
        EXPECT_TRUE(segments_created_by_pid(pid).empty()) << strsignal(sig);
    }
}

TEST_P(Run, UnreadableBitmapEndsInOrder) {
    const std::string missing = std::string(VORBLES_BINARY_DIR) + "/e2e-no-such-file.xbm";
    const std::string broken = temp_file("broken.xbm", "this is not a bitmap\n");
    for (const auto &[path, status] : {std::pair{missing, 1}, std::pair{broken, 2}}) {
        Process p({program(), "-i", path, "-x", "100", "-y", "100"}, {{"DISPLAY", server().display()}});
        const pid_t pid = p.pid();
        RunResult r = p.wait(30);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Loading image from " + path + " instead\nAm here\nread that in okay\nReading from file " +
                             path + " returns " + std::to_string(status) + "\n" + tail(program()));
        EXPECT_NE(r.err.find("Unable to read bitmap file " + path + "\nUnable to create particles\n"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(segments_created_by_pid(pid).empty());
    }
}

TEST_P(Run, RootWindowIgnoresKeysAndEndsOnSignal) {
    Process p({program(), "-r", "-x", "200", "-y", "100", "-n", "1000"}, {{"DISPLAY", server().display()}});
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30));
    // Keys typed on the server go to the focused root window, where the program selects none.
    EXPECT_EQ(run_program({"xdotool", "key", "q", "h"}, {{"DISPLAY", server().display()}}, 10).status, 0);
    sleep_s(0.5);
    EXPECT_TRUE(p.running()) << "no key reaches a root-window run";
    EXPECT_EQ(occurrences(p.out(), "KEYBOARD CONTOLS"), 1);
    p.signal(SIGTERM);
    RunResult r = p.wait(30);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kKeyboardHelp + kExitLine + tail(program()));
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Run, ::testing::Values(VORBLES_BIN, VORBLES_PLAIN_BIN),
                         [](const auto &info) { return is_plain(info.param) ? "plain" : "shm"; });

// The keys in detail, on the shared-memory program.
TEST(Keys, HelpAndControlVariables) {
    Running run(VORBLES_BIN, {"-x", "160", "-y", "120", "-n", "800"});
    ASSERT_TRUE(run.keys({"h"}));
    EXPECT_TRUE(run.wait_count("KEYBOARD CONTOLS", 2));

    // Max speed 110 → 490 in 38 steps; the 39th and 40th refuse.
    ASSERT_TRUE(run.keys(std::vector<std::string>(40, "0")));
    EXPECT_TRUE(run.wait_count("Max Speed is at max value 4.900000e+02\n", 2));
    // 490 → 10 in 48 steps; the 49th refuses.
    ASSERT_TRUE(run.keys(std::vector<std::string>(49, "9")));
    EXPECT_TRUE(run.wait_count("Max Speed is at min value 1.000000e+01\n", 1));
    // Restore: from 110 again, the 39th increase is the first to refuse.
    ASSERT_TRUE(run.keys({"d"}));
    ASSERT_TRUE(run.keys(std::vector<std::string>(39, "0")));
    EXPECT_TRUE(run.wait_count("Max Speed is at max value 4.900000e+02\n", 3));

    // Each mode's own variables answer its keys.
    ASSERT_TRUE(run.keys({"2", "p", "4", "o", "l"}));
    EXPECT_TRUE(run.wait_count("Spring Rest Len is at min value 9.000000e+01\n", 1));
    EXPECT_EQ(occurrences(run.proc->out(), "Angular Force is at max value 3.000000e+01\n"), 1);
    EXPECT_EQ(occurrences(run.proc->out(), "Spring Constant is at min value -2.000000e-06\n"), 1);

    // Keys that print nothing: empty slots, unused keys, silent modes; then a marker.
    const std::string before = run.proc->out();
    ASSERT_TRUE(run.keys({"5", "p",       "o", "semicolon", "l", "period", "slash", "f", "x", "7", "8", "6",
                          "F", "Shift_L", "3", "p",         "o", "1",      "o",     "g", "g", "n", "h"}));
    EXPECT_TRUE(run.wait_count("KEYBOARD CONTOLS", 3));
    EXPECT_EQ(run.proc->out(), before + kKeyboardHelp);

    ASSERT_TRUE(run.keys({"q"}));
    EXPECT_EQ(run.proc->wait(30).status, 1);
}

// Image row h - 2 of a w x h window: black under the alternative renderer.
bool row_is_black(const Pixels &p, int row) {
    for (int x = 0; x < p.width; ++x)
        if ((p.at(x, row) & 0xffffff) != 0) return false;
    return true;
}

TEST(Keys, RendererSwitchAndPause) {
    Running run(VORBLES_BIN, {"-R", "-x", "160", "-y", "120", "-n", "20000", "-b", "200"});
    sleep_s(0.5);
    EXPECT_TRUE(row_is_black(run.picture(), 118)) << "the alternative renderer clears row h - 2";
    ASSERT_TRUE(run.keys({"R"}));
    sleep_s(0.5);
    EXPECT_FALSE(row_is_black(run.picture(), 118)) << "the normal renderer draws row h - 2";
    ASSERT_TRUE(run.keys({"R"}));
    sleep_s(0.5);
    EXPECT_TRUE(row_is_black(run.picture(), 118));

    ASSERT_TRUE(run.keys({"space"}));
    sleep_s(0.3);
    const Pixels paused = run.picture();
    sleep_s(0.4);
    EXPECT_TRUE(run.picture() == paused) << "nothing moves while paused";
    ASSERT_TRUE(run.keys({"space"}));
    sleep_s(0.3);
    EXPECT_FALSE(run.picture() == paused) << "the animation resumes";

    ASSERT_TRUE(run.keys({"q"}));
    EXPECT_EQ(run.proc->wait(30).status, 1);
}

TEST(Keys, ResetRefusesEachFixedParticle) {
    // Five set pixels.
    const std::string path = temp_file("five.xbm",
                                       "#define five_width 8\n#define five_height 2\n"
                                       "static unsigned char five_bits[] = {\n   0x83, 0x14 };\n");
    Running run(VORBLES_PLAIN_BIN, {"-i", path, "-x", "160", "-y", "120"});
    ASSERT_TRUE(run.keys({"r", "h"}));
    EXPECT_TRUE(run.wait_count("KEYBOARD CONTOLS", 2));
    EXPECT_EQ(occurrences(run.proc->out(), "Asked to reset a fixed particle ? Why!?\n"), 5);
    ASSERT_TRUE(run.keys({"q"}));
    EXPECT_EQ(run.proc->wait(30).status, 1);
}

}  // namespace
