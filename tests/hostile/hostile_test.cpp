// Both programs used as a careless or hostile user would: closed standard
// streams, bitmap paths that never end, bitmaps past the particle limit,
// desktops that refuse or destroy the drawable, ignored signals, floods of
// modifier presses, a root window that is not TrueColor. Every run must end
// well inside its time limit, print no raw X error and leave no segment.
#include <gtest/gtest.h>
// After gtest, whose names Xlib's macros would clash with.
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "support/proc.h"
#include "support/programs.h"
#include "support/shm.h"
#include "support/window.h"
#include "support/xvfb.h"

namespace {

namespace fs = std::filesystem;

const std::string kNoSetUp = "Unable to initialise graphics routines\n";
const int kScreenW = 640, kScreenH = 480;

// A black root window, so that anything drawn on it shows.
Xvfb &server() {
    static Xvfb xvfb({"-screen", "0", "640x480x24", "-noreset", "-br"});
    return xvfb;
}

std::vector<EnvChange> env(std::optional<std::string> saver = std::nullopt) {
    return {{"DISPLAY", server().display()}, {"XSCREENSAVER_WINDOW", saver}};
}

bool ends_with(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Waits for the end of a run within the limit, and checks what every run
// must hold: it ended in time, Xlib's handler printed nothing, and no segment
// of the program is left.
RunResult finish(Process &p, double limit_s) {
    RunResult r = p.wait(limit_s);
    EXPECT_FALSE(r.timed_out) << "still running after " << limit_s << " s";
    EXPECT_EQ(r.err.find("X Error"), std::string::npos) << r.err;
    expect_no_segment_left(p.pid());
    return r;
}

RunResult run(const std::vector<std::string> &argv, const std::vector<EnvChange> &e, double limit_s) {
    Process p(argv, e);
    return finish(p, limit_s);
}

// An XBM of width x height with every pixel set.
void write_full_xbm(const std::string &path, unsigned width, unsigned height) {
    std::ofstream f(path);
    f << "#define b_width " << width << "\n#define b_height " << height << "\nstatic unsigned char b_bits[] = {\n";
    std::string row;
    for (unsigned i = 0; i < (width + 7) / 8; ++i) row += "0xff,";
    row += "\n";
    for (unsigned r = 0; r < height; ++r) f << row;
    f << "};\n";
}

class Hostile : public ::testing::Test {
protected:
    void clear_root() {
        XClearWindow(c.d, DefaultRootWindow(c.d));
        XSync(c.d, False);
    }
    long lit_on_root() { return lit_count(read_pixels(c.d, DefaultRootWindow(c.d), 0, 0, kScreenW, kScreenH)); }
    // Starts a run in its own window and waits for the window.
    std::unique_ptr<Process> start_in_window(const std::string &program, std::vector<std::string> args, Window *w) {
        args.insert(args.begin(), program);
        auto p = std::make_unique<Process>(args, env());
        EXPECT_TRUE(p->wait_for("KEYBOARD CONTOLS", 30)) << p->err();
        *w = find_window(c.d);
        EXPECT_NE(*w, 0u);
        return p;
    }
    Connection c{server().display(), XErrors::ignored};
};

// A closed standard descriptor must not become the X connection's: the run
// goes as usual, whichever of them are closed.
TEST_F(Hostile, ClosedStandardStreams) {
    for (const std::string program : kPrograms)
        for (const std::string closed : {"2>&-", ">&-", "<&- >&- 2>&-"}) {
            SCOPED_TRACE(program + " " + closed);
            RunResult r = run({"sh", "-c", "exec \"$0\" \"$@\" " + closed, program, "-l", "6", "-x", "100", "-y", "80",
                               "-n", "500"},
                              env(), 30);
            EXPECT_EQ(r.status, 1);
            if (closed == "2>&-") {
                EXPECT_NE(r.out.find("Showing 6 frames and quitting\n"), std::string::npos) << r.out;
                EXPECT_NE(r.out.find("KEYBOARD CONTOLS"), std::string::npos) << r.out;
            }
            if (closed == ">&-" && !is_plain(program)) {
                EXPECT_NE(r.err.find("Have attached shm segment at "), std::string::npos) << r.err;
            }
        }
}

// Only a regular file of a sane size is read as a bitmap: a FIFO, a device
// that never ends and an oversized file are refused at once.
TEST_F(Hostile, BitmapPathsThatNeverEnd) {
    TempDir dir;
    const std::string fifo = dir / "fifo.xbm", big = dir / "big.xbm";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(big).close();
    fs::resize_file(big, (64u << 20) + 1);  // sparse: costs no disk
    for (const std::string program : kPrograms)
        for (const std::string &path : {fifo, std::string("/dev/zero"), big}) {
            SCOPED_TRACE(program + " -i " + path);
            RunResult r = run({program, "-i", path, "-x", "100", "-y", "80"}, env(), 20);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.out.find("Reading from file " + path + " returns 1\n"), std::string::npos) << r.out;
            EXPECT_NE(r.err.find("Unable to read bitmap file " + path + "\nUnable to create particles\n"),
                      std::string::npos)
                << r.err;
        }
}

// A bitmap past the particle limit is refused before anything large is made.
TEST_F(Hostile, HugeBitmapIsRefused) {
    TempDir dir;
    const std::string path = dir / "huge.xbm";
    write_full_xbm(path, 4096, 4096);
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        RunResult r = run({program, "-i", path, "-x", "100", "-y", "80"}, env(), 30);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.find("Set psys count"), std::string::npos) << r.out;
        EXPECT_NE(r.err.find("Bitmap file " + path +
                             " needs 167772170 particles, more than the limit of 2000000\n"
                             "Unable to create particles\n"),
                  std::string::npos)
            << r.err;
    }
}

// A screen-saver window that cannot take TrueColor pixels is passed over for
// the root window; a protocol error during set-up ends it with one line.
TEST_F(Hostile, SetUpErrors) {
    XSetWindowAttributes a{};
    const Window input_only = XCreateWindow(c.d, DefaultRootWindow(c.d), 10, 10, 200, 150, 0, 0, InputOnly,
                                            CopyFromParent, 0, &a);
    XVisualInfo direct;
    ASSERT_TRUE(XMatchVisualInfo(c.d, DefaultScreen(c.d), 24, DirectColor, &direct));
    a.colormap = XCreateColormap(c.d, DefaultRootWindow(c.d), direct.visual, AllocNone);
    const Window direct_colour = XCreateWindow(c.d, DefaultRootWindow(c.d), 10, 10, 200, 150, 0, 24, InputOutput,
                                               direct.visual, CWColormap | CWBorderPixel | CWBackPixel, &a);
    XMapWindow(c.d, input_only);
    XMapWindow(c.d, direct_colour);
    XSync(c.d, False);
    for (const std::string program : kPrograms)
        for (Window saver : {input_only, direct_colour}) {
            SCOPED_TRACE(program + " " + std::to_string(saver));
            clear_root();
            Process p({program, "-r", "-n", "20000"}, env(std::to_string(saver)));
            // The run gives the root window back black when it ends: look while it runs.
            bool drawn = false;
            for (int i = 0; i < 200 && !drawn && p.running(); ++i, sleep_s(0.05)) drawn = lit_on_root() > 0;
            EXPECT_TRUE(drawn) << "the root window was not drawn on";
            p.signal(SIGTERM);
            RunResult r = finish(p, 15);
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(ends_with(r.out, exit_tail(program))) << r.out;
        }
    XDestroyWindow(c.d, input_only);
    XDestroyWindow(c.d, direct_colour);

    // A window manager that destroys the window as it maps it, or instead of
    // mapping it: the graphics context is then asked for on a window that is gone.
    for (const std::string program : kPrograms)
        for (bool map_first : {true, false}) {
            SCOPED_TRACE(program + (map_first ? " mapped, then destroyed" : " destroyed unmapped"));
            Connection wm(server().display());
            XSelectInput(wm.d, DefaultRootWindow(wm.d), SubstructureRedirectMask);
            XSync(wm.d, False);
            Process p({program, "-x", "100", "-y", "80", "-l", "10"}, env());
            XEvent ev{};
            for (int i = 0; i < 1000 && ev.type != MapRequest; ++i) {
                if (XPending(wm.d))
                    XNextEvent(wm.d, &ev);
                else
                    sleep_s(0.02);
            }
            ASSERT_EQ(ev.type, MapRequest);
            XGrabServer(wm.d);
            if (map_first) XMapWindow(wm.d, ev.xmaprequest.window);
            XDestroyWindow(wm.d, ev.xmaprequest.window);
            XUngrabServer(wm.d);
            XSync(wm.d, False);
            RunResult r = finish(p, 20);
            EXPECT_EQ(r.status, 1);
            // One line naming the error (on the title or the graphics context,
            // whichever reached the server after the window went), then the end.
            const std::string refused = "The X server refused the set-up: Bad";
            EXPECT_EQ(r.err.compare(0, refused.size(), refused), 0) << r.err;
            EXPECT_TRUE(ends_with(r.err, kNoSetUp)) << r.err;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        }
}

// The drawable destroyed under the running program ends the run as the quit
// key does: its own window by another client, a screen saver's by its owner.
TEST_F(Hostile, DestroyedDrawableEndsTheRun) {
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        Window w = 0;
        auto p = start_in_window(program, {"-x", "120", "-y", "90", "-n", "2000"}, &w);
        sleep_s(0.3);
        XDestroyWindow(c.d, w);
        XSync(c.d, False);
        RunResult r = finish(*p, 15);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, exit_tail(program, kDestroyedLine))) << r.out;

        Connection owner(server().display());
        const Window saver = make_window(owner.d, 100, 100, 200, 150);
        Process q({program, "-r", "-n", "2000"}, env(std::to_string(saver)));
        ASSERT_TRUE(q.wait_for("KEYBOARD CONTOLS", 30)) << q.err();
        sleep_s(0.3);
        XDestroyWindow(owner.d, saver);
        XSync(owner.d, False);
        r = finish(q, 15);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, exit_tail(program, kDestroyedLine))) << r.out;
    }
}

// Under nohup a hang-up does not end the run; the other signals still do.
TEST_F(Hostile, IgnoredSignalsStayIgnored) {
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        Process p({"nohup", program, "-x", "100", "-y", "80", "-n", "500"}, env());
        ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
        p.signal(SIGHUP);
        sleep_s(0.5);
        EXPECT_TRUE(p.running()) << "a hang-up ended the run under nohup";
        p.signal(SIGTERM);
        RunResult r = finish(p, 15);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, exit_tail(program))) << r.out;
    }
}

// A flood of presses that give no character does not hold up the quit key
// behind it: they are all drained in the frame they arrive in (at one press a
// frame, 2000 of them would take 80 s).
TEST_F(Hostile, ModifierPressesDoNotDelayTheQuitKey) {
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        Window w = 0;
        auto p = start_in_window(program, {"-x", "100", "-y", "80", "-n", "500"}, &w);
        for (int i = 0; i < 2000; ++i) send_key(c.d, w, i % 2 ? XK_Shift_L : XK_Control_R);
        send_key(c.d, w, XK_q);
        RunResult r = finish(*p, 20);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.out, exit_tail(program))) << r.out;
    }
}

// Root-window mode on a root whose visual is not TrueColor (depth 8, PseudoColor)
// is refused instead of painting TrueColor pixels into it.
TEST_F(Hostile, RootWindowThatIsNotTrueColorIsRefused) {
    Xvfb depth8({"-screen", "0", "320x240x8", "-noreset"});
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        RunResult r = run({program, "-r", "-l", "5"}, {{"DISPLAY", depth8.display()}}, 20);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Unable to draw on the root window: its visual is not TrueColor\n" + kNoSetUp);
    }
}

// On a depth-32 window the alternative renderer leaves every pixel opaque,
// the row it clears above the bottom one included.
TEST_F(Hostile, AlternativeRendererIsOpaqueOnDepth32) {
    const int width = 64, height = 48;
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        Window w = 0;
        auto p = start_in_window(program, {"-R", "-x", std::to_string(width), "-y", std::to_string(height)}, &w);
        XWindowAttributes attr;
        ASSERT_TRUE(XGetWindowAttributes(c.d, w, &attr));
        ASSERT_EQ(attr.depth, 32);
        // Once particles show, a frame has been put, and each put covers the window.
        bool drawn = false;
        int transparent = 0;
        for (int tries = 0; tries < 200 && !drawn; ++tries, sleep_s(0.05)) {
            const Pixels im = read_pixels(c.d, w, 0, 0, width, height);
            transparent = 0;
            for (int y = 0; y < height; ++y)
                for (int x = 0; x < width; ++x) {
                    drawn = drawn || im.rgb(x, y) != 0;
                    transparent += (im.at(x, y) >> 24) != 0xff;
                }
        }
        ASSERT_TRUE(drawn);
        EXPECT_EQ(transparent, 0);
        send_key(c.d, w, XK_q);
        EXPECT_EQ(finish(*p, 15).status, 1);
    }
}

}  // namespace

namespace {

// Seconds since a moment, for the time a run takes to end.
double seconds_since(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// Sends the signal and returns the run's end and how long it took to come.
RunResult end_by_signal(Process &p, int sig, double *took) {
    const auto sent = std::chrono::steady_clock::now();
    p.signal(sig);
    RunResult r = p.wait(15);
    *took = seconds_since(sent);
    EXPECT_FALSE(r.timed_out);
    return r;
}

// A bitmap that declares a size the reader cannot hold (a side of 0,
// negative or huge, in every spelling that once came back as success) is
// refused as unreadable before anything is scanned: no gigabytes read, no
// read past the data.
TEST_F(Hostile, BitmapsDeclaringImpossibleSizesAreRefused) {
    const std::vector<std::pair<std::string, std::string>> sizes = {
        {"8", "-1"},         {"8", "-2147483648"}, {"8", "-2147483647"},
        {"2147483647", "1"}, {"-1", "2"},          {"9223372036854775808", "2"},
        {"0", "2"},          {"32769", "1"},       {"8\n#define t_width -1", "2"},
    };
    TempDir dir;
    int n = 0;
    for (const auto &[width, height] : sizes) {
        const std::string path = dir / ("b" + std::to_string(n++) + ".xbm");
        std::ofstream(path) << "#define t_width " << width << "\n#define t_height " << height
                            << "\nstatic char t_bits[] = {\n0x01,0x02};\n";
        for (const std::string program : kPrograms) {
            SCOPED_TRACE(program + " " + width + " x " + height);
            RunResult r = run({program, "-i", path, "-x", "100", "-y", "80", "-l", "2"}, env(), 20);
            EXPECT_EQ(r.status, 1);
            EXPECT_NE(r.out.find("Reading from file " + path + " returns 2\n"), std::string::npos) << r.out;
            EXPECT_EQ(r.out.find("Opened file"), std::string::npos) << r.out;
            EXPECT_NE(r.err.find("Unable to read bitmap file " + path + "\nUnable to create particles\n"),
                      std::string::npos)
                << r.err;
            EXPECT_LT(r.max_rss_kb, 1 << 20) << "peak memory";
        }
    }
}

// A window manager that never maps the window (it starts windows iconic, or
// on another desktop): the run starts all the same, and a signal ends it.
TEST_F(Hostile, WindowThatIsNeverMappedStillEndsOnASignal) {
    Connection wm(server().display());
    XSelectInput(wm.d, DefaultRootWindow(wm.d), SubstructureRedirectMask);
    XSync(wm.d, False);
    for (const std::string program : kPrograms)
        for (int sig : {is_plain(program) ? SIGINT : SIGTERM}) {
            SCOPED_TRACE(program + " signal " + std::to_string(sig));
            Process p({program, "-x", "100", "-y", "80", "-n", "500"}, env());
            ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
            double took = 0;
            RunResult r = end_by_signal(p, sig, &took);
            EXPECT_LT(took, 2.0);
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(ends_with(r.out, exit_tail(program))) << r.out;
            expect_no_segment_left(p.pid());
        }
}

// Where the run is blocked and never gets to look at the flag, a
// termination signal still ends it within two seconds, with status 1: a
// stopped X server, a display that accepts and never answers, a pipe on
// standard output that nobody reads.
// (The signal handling is the same in both programs: one is enough.)
TEST_F(Hostile, ASignalEndsARunThatIsBlocked) {
    const std::string program = VORBLES_BIN;
    {
        {
            Xvfb stopped({"-screen", "0", "320x240x24", "-noreset"});
            Process p({program, "-x", "100", "-y", "80", "-n", "500"}, {{"DISPLAY", stopped.display()}});
            ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
            kill(stopped.pid(), SIGSTOP);
            sleep_s(0.2);
            double took = 0;
            RunResult r = end_by_signal(p, SIGTERM, &took);
            kill(stopped.pid(), SIGCONT);
            EXPECT_LT(took, 2.0) << "stopped server";
            EXPECT_EQ(r.status, 1);
        }
        {
            // Xlib's connection to display N over TCP goes to port 6000 + N;
            // the kernel completes it, and nobody ever reads or answers.
            const int s = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in at{};
            at.sin_family = AF_INET;
            at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            int display = 50;
            for (; display < 150; ++display) {
                at.sin_port = htons(static_cast<uint16_t>(6000 + display));
                if (bind(s, reinterpret_cast<sockaddr *>(&at), sizeof at) == 0) break;
            }
            ASSERT_EQ(listen(s, 4), 0);
            Process p({program, "-x", "100", "-y", "80"}, {{"DISPLAY", "127.0.0.1:" + std::to_string(display)}});
            sleep_s(0.5);
            double took = 0;
            RunResult r = end_by_signal(p, SIGHUP, &took);
            close(s);
            EXPECT_LT(took, 2.0) << "silent display";
            EXPECT_EQ(r.status, 1);
        }
        {
            // A pipe filled to the brim: the first line the program writes blocks.
            TempDir dir;
            const std::string fifo = dir / "out";
            ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
            const int held = open(fifo.c_str(), O_RDWR | O_NONBLOCK);
            ASSERT_GE(held, 0);
            const std::string block(4096, 'x');
            while (write(held, block.data(), block.size()) > 0) {
            }
            Process p({"sh", "-c", "exec \"$0\" \"$@\" > " + fifo, program, "-x", "100", "-y", "80", "-n", "500"},
                      env());
            sleep_s(1.0);
            ASSERT_TRUE(p.running());
            double took = 0;
            RunResult r = end_by_signal(p, SIGINT, &took);
            close(held);
            EXPECT_LT(took, 2.0) << "full pipe";
            EXPECT_EQ(r.status, 1);
            expect_no_segment_left(p.pid());
        }
    }
}

// A screen-saver window far larger than a picture may be gets a picture of
// 4096 x 4096 at most, at start and after a resize: its segment (vorbles)
// and the memory of either program stay that size.
TEST_F(Hostile, PictureOnAHugeScreenSaverWindowIsBounded) {
    Connection owner(server().display());
    const Window saver = make_window(owner.d, 0, 0, 20000, 20000);
    const long long bound = 4096LL * 4096 * 4;
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        Process p({program, "-r", "-n", "2000"}, env(std::to_string(saver)));
        ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
        sleep_s(0.3);
        for (int id : segments_created_by_pid(p.pid())) {
            const auto seg = shm_segment(id);
            if (seg) {
                EXPECT_LE(seg->size, bound) << "segment " << id;
            }
        }
        XResizeWindow(owner.d, saver, 32000, 32000);
        XSync(owner.d, False);
        sleep_s(0.5);
        for (int id : segments_created_by_pid(p.pid())) {
            const auto seg = shm_segment(id);
            if (seg) {
                EXPECT_LE(seg->size, bound) << "segment " << id;
            }
        }
        p.signal(SIGTERM);
        RunResult r = finish(p, 15);
        EXPECT_EQ(r.status, 1);
        EXPECT_LT(r.max_rss_kb, 600 * 1024) << "peak memory";
        XResizeWindow(owner.d, saver, 20000, 20000);
        XSync(owner.d, False);
    }
    XDestroyWindow(owner.d, saver);
}

#ifndef VORBLES_SANITIZED  // the sanitizers' own memory does not fit such a limit
// Memory or threads that run out end the run with a message, the clean-up
// (the root window given back) and status 1; a thread that cannot start
// only means fewer threads.
TEST_F(Hostile, MemoryAndThreadsRunningOut) {
    for (const std::string program : kPrograms) {
        SCOPED_TRACE(program);
        clear_root();
        RunResult r = run({"sh", "-c", "ulimit -v 100000; exec \"$0\" \"$@\"", program, "-r", "-n", "2000000", "-l",
                           "5"},
                          env(), 30);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(ends_with(r.err, "Out of memory\n") || ends_with(r.err, "Unable to create particles\n")) << r.err;
        EXPECT_EQ(lit_on_root(), 0);

        r = run({"sh", "-c", "ulimit -v 100000; exec \"$0\" \"$@\"", program, "-x", "4096", "-y", "4096", "-l", "3"},
                {{"DISPLAY", server().display()}, {"VORBLES_THREADS", "8"}}, 30);
        EXPECT_EQ(r.signal, 0);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
    }
}
#endif

// A picture that changes size announces no new segment: the set-up's lines
// come once.
TEST_F(Hostile, ResizesPrintNothing) {
    Window w = 0;
    auto p = start_in_window(VORBLES_BIN, {"-x", "100", "-y", "80", "-n", "500"}, &w);
    for (int i = 0; i < 10; ++i) {
        XResizeWindow(c.d, w, 100 + 20 * (i % 2), 80);
        XSync(c.d, False);
        sleep_s(0.1);
    }
    send_key(c.d, w, XK_q);
    RunResult r = finish(*p, 15);
    EXPECT_EQ(occurrences(r.err, "Created Shared memory segment ID: "), 1) << r.err;
    EXPECT_EQ(occurrences(r.err, "Have attached shm segment at "), 1) << r.err;
}

}  // namespace
