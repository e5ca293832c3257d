// The picture itself: a root-window-mode run of each program, read back from
// the server, equals the frames the library computes in this process.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "model.h"
#include "support/proc.h"
#include "support/requests.h"
#include "support/window.h"
#include "support/xvfb.h"

namespace {

struct Server {
    explicit Server(std::vector<std::string> args) : xvfb(std::move(args)) {
        dpy = XOpenDisplay(xvfb.display().c_str());
        // The program draws with a visual of the root's depth, as its drawable below has.
        const int screen = DefaultScreen(dpy);
        XMatchVisualInfo(dpy, screen, DefaultDepth(dpy, screen), TrueColor, &vinfo);
        // A run on the root window clears its picture when it ends; a screen
        // saver's window of the screen's size and visual keeps the last frame
        // where the root window would have shown it.
        saver = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 0, 0, DisplayWidth(dpy, screen),
                                    DisplayHeight(dpy, screen), 0, BlackPixel(dpy, screen), BlackPixel(dpy, screen));
        XMapWindow(dpy, saver);
        XSync(dpy, False);
    }
    ~Server() { XCloseDisplay(dpy); }
    Xvfb xvfb;
    Display *dpy = nullptr;
    XVisualInfo vinfo{};
    Window saver = 0;
};

// A small bitmap: a diagonal and a filled block.
std::string write_bitmap() {
    static const std::string path = [] {
        std::string p = std::string(VORBLES_BINARY_DIR) + "/e2e-picture.xbm";
        std::ofstream f(p);
        f << "#define t_width 12\n#define t_height 6\nstatic unsigned char t_bits[] = {\n"
             "0x01, 0x00, 0x02, 0x00, 0x04, 0x0c, 0x08, 0x0c, 0x10, 0x00, 0xff, 0x0f};\n";
        return p;
    }();
    return path;
}

class Picture : public ::testing::Test {
protected:
    // Runs the program in root-window mode and compares the centred region with
    // the model; without -R the start-up parity picks the renderer, so either
    // of the 32-bit renderers' pictures is accepted then.
    // `during` runs while the program does.
    void check(Server &s, const char *program, const RunOptions &o, bool force_alt, std::vector<EnvChange> env = {},
               const std::function<void()> &during = {}) {
        std::vector<std::string> argv = launcher;
        argv.insert(argv.end(), {program, "-r"});
        if (force_alt) argv.push_back("-R");
        for (auto &a : o.args()) argv.push_back(a);
        env.insert(env.end(), {{"DISPLAY", s.xvfb.display()}, {"XSCREENSAVER_WINDOW", std::to_string(s.saver)}});
        Process p(argv, env);
        if (during) during();
        RunResult r = p.wait(120);
        ASSERT_EQ(r.status, 1) << r.err;
        ASSERT_FALSE(r.timed_out);

        Pixels screen = read_pixels(s.dpy, s.saver);
        const int xoff = (screen.width - o.width) / 2, yoff = (screen.height - o.height) / 2;
        const uint32_t mask = screen.depth >= 32 ? 0xffffffffu : (1u << screen.depth) - 1;
        std::vector<uint32_t> shown;
        for (int y = 0; y < o.height; ++y)
            for (int x = 0; x < o.width; ++x) shown.push_back(screen.at(x + xoff, y + yoff) & mask);

        const auto normal = model_picture(s.dpy, s.vinfo, o, 0);
        const auto alt = model_picture(s.dpy, s.vinfo, o, 1);
        ASSERT_EQ(normal.size(), shown.size());
        size_t lit = 0;
        for (uint32_t p : shown) lit += p != 0;
        EXPECT_GT(lit, shown.size() / 50) << "the picture should show trails";
        if (force_alt)
            EXPECT_TRUE(shown == alt) << program << ": picture differs from the model";
        else
            EXPECT_TRUE(shown == normal || shown == alt) << program << ": picture differs from both renderers' models";
    }

    std::vector<std::string> launcher;  // words run before the program, such as an emulator
};

TEST_F(Picture, Depth24MatchesTheModel) {
    Server s(xvfb_depth24());
    ASSERT_EQ(s.vinfo.depth, 24);
    RunOptions plain;
    plain.frames = 20;
    plain.count = 4000;
    for (const char *program : {VORBLES_BIN, VORBLES_PLAIN_BIN}) {
        SCOPED_TRACE(program);
        check(s, program, plain, false);
        check(s, program, plain, true);
    }

    RunOptions modes;  // random force-mode changes, another colour and brightness
    modes.frames = 31;
    modes.count = 3001;
    modes.mode_period = 4;
    modes.brightness = 90;
    modes.base_color = 0xffaa66;
    modes.width = 257;
    modes.height = 123;
    check(s, VORBLES_BIN, modes, false);

    RunOptions bitmap;  // fixed particles with their companions
    bitmap.frames = 25;
    bitmap.image_path = write_bitmap();
    bitmap.brightness = 255;
    check(s, VORBLES_PLAIN_BIN, bitmap, true);

    // -b keeps the low eight bits; -c reads hexadecimal with or without 0x,
    // and text without digits as 0.
    RunOptions spelled;
    spelled.frames = 12;
    spelled.count = 3000;
    spelled.brightness = 44;
    spelled.base_color = 0xffaa66;
    spelled.extra = {"-b", "300", "-c", "0xffaa66"};
    check(s, VORBLES_BIN, spelled, true);
    spelled.brightness = 255;
    spelled.base_color = 0;  // dark until near full intensity: more particles
    spelled.count = 30000;
    spelled.extra = {"-b", "-1", "-c", "zz"};
    check(s, VORBLES_BIN, spelled, true);
}

// On three threads, with enough particles and cells that the step and the
// renderer split; starfield for the whole run puts particles back from the rim.
TEST_F(Picture, ThreeThreadsMatchTheModel) {
    Server s(xvfb_depth24());
    RunOptions o;
    o.frames = 12;
    o.mode_period = 10000;
    o.width = 640;
    o.height = 480;
    o.count = model_count_for_first_mode(4, 300000);
    for (const char *program : {VORBLES_BIN, VORBLES_PLAIN_BIN}) {
        SCOPED_TRACE(program);
        check(s, program, o, false, {{"VORBLES_THREADS", "3"}});
    }
}

TEST_F(Picture, Depth16MatchesTheModel) {
    Server s(xvfb_depth16());
    ASSERT_EQ(s.vinfo.depth, 16);
    RunOptions o;
    o.frames = 18;
    o.count = 5000;
    o.mode_period = 7;
    o.base_color = 0x33ff99;
    for (const char *program : {VORBLES_BIN, VORBLES_PLAIN_BIN}) {
        SCOPED_TRACE(program);
        check(s, program, o, false);
    }
}

// A run whose picture is hidden for a while (the screen saver's window
// unmapped) sends nothing meanwhile and ends on the frame the model computes
// for its frame count: the rest neither skips nor counts a frame.
TEST_F(Picture, HiddenRunResumesWhereItStopped) {
    Server s(xvfb_depth24());
    RunOptions o;
    o.frames = 36;
    o.count = 4000;
    check(s, VORBLES_BIN, o, true, {}, [&] {
        PutCounter puts(s.xvfb.display());
        ASSERT_TRUE(wait_until([&] { return puts.count() >= 5; }, 30));
        XUnmapWindow(s.dpy, s.saver);
        XSync(s.dpy, False);
        sleep_s(0.2);
        EXPECT_EQ(puts.during(0.6), 0);
        XMapWindow(s.dpy, s.saver);
        XSync(s.dpy, False);
    });
}

// The programs of a build for another processor, through its emulator:
// VORBLES_EMULATOR is the emulator's command line, VORBLES_CROSS_DIR the build
// directory. Each force mode holds for the whole run (the first random change
// draws it, the next is out of reach); then the sample bitmap's fixed
// particles; then a 16-bit screen.
TEST_F(Picture, CrossBuildMatchesTheModel) {
    const char *emulator = getenv("VORBLES_EMULATOR"), *dir = getenv("VORBLES_CROSS_DIR");
    if (emulator == nullptr || dir == nullptr) GTEST_SKIP() << "no cross build named";
    std::istringstream words(emulator);
    for (std::string w; words >> w;) launcher.push_back(w);
    const std::string shm = std::string(dir) + "/vorbles", plain = std::string(dir) + "/vorbles-plain";

    Server s(xvfb_depth24());
    RunOptions o;
    o.frames = 8;
    o.mode_period = 10000;
    for (int mode = 0; mode < 5; ++mode) {
        o.count = model_count_for_first_mode(mode, 1500);
        SCOPED_TRACE("force mode " + std::to_string(mode + 1) + ", " + std::to_string(o.count) + " particles");
        check(s, shm.c_str(), o, false);
        check(s, plain.c_str(), o, true);
    }
    o.image_path = VORBLES_SOURCE_DIR "/share/vorbles.xbm";
    check(s, shm.c_str(), o, true);
    check(s, plain.c_str(), o, false);

    // The per-pixel renderer, on a 16-bit screen.
    Server s16(xvfb_depth16());
    o.image_path.clear();
    o.count = 3000;
    check(s16, shm.c_str(), o, false);
    check(s16, plain.c_str(), o, false);

    // The fast step of that processor (VORBLES_CROSS_ISA), in every frame;
    // none where it has no fast step.
    const char *isa = getenv("VORBLES_CROSS_ISA");
    if (isa == nullptr) return;
    std::vector<std::string> argv = launcher;
    argv.insert(argv.end(), {shm, "-l", "8", "-x", "64", "-y", "48", "-n", "1000"});
    RunResult r = run_program(argv, {{"DISPLAY", s.xvfb.display()}, {"VORBLES_STEP_REPORT", "1"}}, 120);
    const std::string want = std::string(isa) == "none" ? "Fast step in 0 of 8 frames (none)\n"
                                                        : "Fast step in 8 of 8 frames (" + std::string(isa) + ")\n";
    EXPECT_NE(r.err.find(want), std::string::npos) << r.err;
}

}  // namespace
