// scripts/record, the recorder behind `make run` on a machine without a
// display: it must leave pictures behind and no X server.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "support/proc.h"

namespace {

const std::string kRecord = std::string(VORBLES_SOURCE_DIR) + "/scripts/record";

bool exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// The display the recorder announced (":N"), or "".
std::string announced_display(const std::string &err) {
    const std::string tag = "record: display ";
    size_t at = err.find(tag);
    if (at == std::string::npos) return "";
    size_t end = err.find_first_of(", \n", at + tag.size());
    return err.substr(at + tag.size(), end - at - tag.size());
}

// Every recorder run of this test process carries this mark in its
// environment, and so do the server and the program it starts. The display
// number is no such mark: a test running beside this one may take a freed
// number at once.
const EnvChange kMark = {"VORBLES_RECORD_TEST_RUN", std::to_string(getpid())};

// What the recorder left running: any process that carries the mark. The
// display must have been announced, or there is nothing to look for.
std::vector<std::string> left_on(const std::string &display) {
    if (display.size() < 2) return {"no display announced"};
    std::vector<std::string> left;
    const std::string var = kMark.first + "=" + *kMark.second;
    DIR *proc = opendir("/proc");
    while (dirent *e = proc ? readdir(proc) : nullptr) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream in(std::string("/proc/") + e->d_name + "/environ", std::ios::binary);
        std::string entry;
        while (std::getline(in, entry, '\0'))
            if (entry == var) left.push_back(std::string("process ") + e->d_name);
    }
    if (proc) closedir(proc);
    return left;
}

// ImageMagick's view of a picture file: one line per frame.
std::vector<std::string> frames_info(const std::string &path, const std::string &format) {
    return lines(run_program({"convert", path, "-coalesce", "-format", format + "\n", "info:"}, {}, 60).out);
}

RunResult record(const std::vector<std::string> &options, const std::vector<std::string> &program_args) {
    std::vector<std::string> argv = {kRecord, "--program", VORBLES_BIN};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back("--");
    argv.insert(argv.end(), program_args.begin(), program_args.end());
    return run_program(argv, {{"DISPLAY", std::nullopt}, kMark}, 240);
}

TEST(Record, WritesAnAnimatedGifAndThePictureOfTheLastFrame) {
    TempDir dir;
    const std::string out = dir.path + "/sub/run";
    RunResult r = record({"--out", out, "--frames", "48", "--interval", "0.1", "--keys", "h"},
                         {"-x", "160", "-y", "100", "-n", "3000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("wrote " + out + ".gif"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(out + ".png"), std::string::npos) << r.err;
    // The program's own output is passed on; the key reached its window.
    EXPECT_NE(r.out.find("Showing 48 frames and quitting\n"), std::string::npos);
    const size_t help = r.out.find("KEYBOARD CONTOLS");
    EXPECT_NE(r.out.find("KEYBOARD CONTOLS", help + 1), std::string::npos)
        << "the help key typed into the window printed no second help text";

    const auto gif = frames_info(out + ".gif", "%w %h %#");
    ASSERT_GE(gif.size(), 3u) << "too few frames";
    std::set<std::string> distinct;
    for (const std::string &frame : gif) {
        EXPECT_EQ(frame.substr(0, 8), "160 100 ") << "a frame of another size than the window";
        distinct.insert(frame);
    }
    EXPECT_GE(distinct.size(), 3u) << "the frames do not move";

    const auto png = frames_info(out + ".png", "%m %w %h %[fx:maxima>0]");
    ASSERT_EQ(png.size(), 1u);
    EXPECT_EQ(png[0], "PNG 160 100 1") << "the last frame is missing or black";

    const std::string display = announced_display(r.err);
    ASSERT_FALSE(display.empty()) << r.err;
    EXPECT_EQ(left_on(display), std::vector<std::string>{});
}

// The recorder learns the size from the window: one wider than its screen
// starts the run again on a screen that holds it.
TEST(Record, AWindowLargerThanTheScreenIsCapturedWhole) {
    TempDir dir;
    const std::string out = dir / "wide";
    RunResult r = record({"--out", out, "--frames", "12"}, {"-x", "1100", "-y", "120", "-n", "2000"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("the window is 1100x120: starting again on a 1100x768 screen"), std::string::npos) << r.err;
    const auto gif = frames_info(out + ".gif", "%w %h");
    ASSERT_FALSE(gif.empty());
    for (const std::string &frame : gif) EXPECT_EQ(frame, "1100 120");
    EXPECT_EQ(frames_info(out + ".png", "%w %h %[fx:maxima>0]"), std::vector<std::string>{"1100 120 1"});
    EXPECT_EQ(left_on(announced_display(r.err)), std::vector<std::string>{});
}

// As `make run` has it: the details in the log, two lines on the terminal,
// the frames as the program announced them (its own -l wins); a failure
// shows the end of the log.
TEST(Record, WithALogItSaysTwoLinesAndOnFailureTheEndOfTheLog) {
    TempDir dir;
    const std::string out = dir / "run", log = dir / "logs/record.log";
    RunResult r = record({"--out", out, "--log", log}, {"-x", "160", "-y", "100", "-n", "2000", "-l", "20"});
    EXPECT_EQ(r.status, 0) << r.err << slurp(log);
    EXPECT_EQ(r.out, "recording 20 frames (log: " + log + ")\nwrote " + out + ".gif and " + out + ".png\n");
    EXPECT_EQ(r.err, "");
    const std::string details = slurp(log);
    EXPECT_NE(details.find("record: display :"), std::string::npos) << details;
    EXPECT_NE(details.find("Showing 20 frames and quitting\n"), std::string::npos) << details;

    RunResult failed = run_program({kRecord, "--program", "/bin/false", "--out", dir / "none", "--log", log},
                                   {{"DISPLAY", std::nullopt}, kMark}, 60);
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.find("record: nothing recorded: the program ended with status 1"), 0u) << failed.err;
    EXPECT_NE(failed.err.find("The last lines of " + log + ":\nrecord: display :"), std::string::npos) << failed.err;
    EXPECT_EQ(left_on(announced_display(slurp(log))), std::vector<std::string>{});
}

TEST(Record, CapturesTheScreenInRootWindowMode) {
    TempDir dir;
    const std::string out = dir.path + "/root";
    RunResult r = record({"--out", out, "--frames", "24", "--screen", "640x480"},
                         {"-r", "-x", "200", "-y", "100", "-n", "3000"});
    ASSERT_EQ(r.status, 0) << r.err;
    // The picture lies in the middle of the screen, at (220, 190).
    const auto png = frames_info(out + ".png", "%w %h %@");
    ASSERT_EQ(png.size(), 1u);
    std::istringstream f(png[0]);
    int w, h, bw, bh, bx, by;
    char sep;
    ASSERT_TRUE(f >> w >> h >> bw >> sep >> bh >> bx >> by) << png[0];
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
    EXPECT_GE(bx, 220);
    EXPECT_GE(by, 190);
    EXPECT_LE(bx + bw, 420);
    EXPECT_LE(by + bh, 290);
    EXPECT_GT(bw, 100) << "little of the picture is lit";
    EXPECT_EQ(left_on(announced_display(r.err)), std::vector<std::string>{});
}

// A root-window run clears its picture as it ends, and captures may still
// be taken then: those of the cleared screen at the end are dropped, so the
// last frame is the last picture drawn. The program here is a stand-in that
// shows a red picture, takes it away and lingers before it ends.
TEST(Record, TheClearedScreenAtTheEndIsNotTheLastFrame) {
    TempDir dir;
    const std::string image = dir / "red.xwd", program = dir / "clears", out = dir / "run";
    ASSERT_EQ(run_program({"convert", "-size", "120x90", "xc:red", image}, {}, 60).status, 0);
    write_script(program, "xwud -in '" + image + "' & shown=$!\nsleep 1.5\nkill $shown\nsleep 0.8\nexit 1\n");
    RunResult r = run_program({kRecord, "--program", program, "--out", out}, {{"DISPLAY", std::nullopt}, kMark}, 120);
    ASSERT_EQ(r.status, 0) << r.err;
    const auto png = frames_info(out + ".png", "%k"), gif = frames_info(out + ".gif", "%k");  // colours
    ASSERT_EQ(png.size(), 1u);
    EXPECT_NE(png[0], "1") << "the picture of the last frame is the cleared screen";
    ASSERT_FALSE(gif.empty());
    EXPECT_NE(gif.back(), "1") << "the animation ends on the cleared screen";
}

TEST(Record, AnInterruptStopsTheProgramAndTheServer) {
    for (int sig : {SIGINT, SIGTERM}) {
        TempDir dir;
        Process p({kRecord, "--program", VORBLES_BIN, "--out", dir.path + "/cut", "--frames", "0", "--", "-x", "160",
                   "-y", "100", "-n", "2000"},
                  {{"DISPLAY", std::nullopt}, kMark});
        ASSERT_TRUE(p.wait_for("record: display", 30, true)) << p.err();
        const std::string display = announced_display(p.err());
        sleep_s(1.5);  // well into the run
        ASSERT_TRUE(p.running());
        p.signal(sig);
        RunResult r = p.wait(30);
        EXPECT_FALSE(r.timed_out) << strsignal(sig);
        EXPECT_EQ(r.status, 128 + sig) << strsignal(sig);
        EXPECT_FALSE(exists(dir.path + "/cut.gif"));
        EXPECT_EQ(left_on(display), std::vector<std::string>{}) << strsignal(sig);
    }
}

TEST(Record, AProgramThatShowsNoWindowLeavesNothing) {
    TempDir dir;
    // It fails: the recorder fails with it.
    RunResult failed = run_program({kRecord, "--program", "/bin/false", "--out", dir.path + "/none"}, {kMark}, 60);
    EXPECT_NE(failed.status, 0);
    EXPECT_NE(failed.err.find("nothing recorded"), std::string::npos) << failed.err;
    EXPECT_EQ(left_on(announced_display(failed.err)), std::vector<std::string>{});
    // The usage text is no failure.
    RunResult usage = record({"--out", dir.path + "/none"}, {"-h"});
    EXPECT_EQ(usage.status, 0) << usage.err;
    EXPECT_EQ(usage.out.substr(0, std::string(VORBLES_BIN).size() + 1), std::string(VORBLES_BIN) + "\n");
    EXPECT_EQ(left_on(announced_display(usage.err)), std::vector<std::string>{});
    EXPECT_FALSE(exists(dir.path + "/none.gif"));
    EXPECT_FALSE(exists(dir.path + "/none.png"));
}

// Status 1 is the program's ordinary end (the first test); a crash after the
// captures still writes them, but the recorder fails.
TEST(Record, AProgramThatEndsAbnormallyFailsTheRecording) {
    TempDir dir;
    const std::string wrapper = dir.path + "/crashes";
    write_script(wrapper, "\"" VORBLES_BIN "\" \"$@\"\nkill -SEGV $$\n");
    RunResult r = run_program({kRecord, "--program", wrapper, "--out", dir.path + "/run", "--frames", "24", "--", "-x",
                               "160", "-y", "100", "-n", "2000"},
                              {{"DISPLAY", std::nullopt}, kMark}, 120);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("the program ended with signal SEGV"), std::string::npos) << r.err;
    EXPECT_TRUE(exists(dir.path + "/run.gif"));
    EXPECT_EQ(left_on(announced_display(r.err)), std::vector<std::string>{});
}

}  // namespace
