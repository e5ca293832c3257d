// Both programs among the other clients of a desktop: a window manager that
// closes, hides or covers the window, a screen saver that lends its own
// window to draw in, several monitors, keyboards of several groups.
#include <gtest/gtest.h>
// After gtest, whose names Xlib's macros would clash with.
#include <X11/XKBlib.h>
#include <X11/keysym.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "support/proc.h"
#include "support/programs.h"
#include "support/requests.h"
#include "support/shm.h"
#include "support/window.h"
#include "support/xvfb.h"

namespace {

const int kScreenW = 1920, kScreenH = 1080;

// A black root window, so that anything drawn on it shows.
Xvfb &server() {
    static Xvfb xvfb({"-screen", "0", "1920x1080x24", "-noreset", "-br"});
    return xvfb;
}

std::vector<EnvChange> env(std::optional<std::string> saver = std::nullopt) {
    return {{"DISPLAY", server().display()}, {"XSCREENSAVER_WINDOW", saver}};
}

bool window_gone(Display *d, double timeout_s) {
    return wait_until([d] { return find_window(d, 0) == 0; }, timeout_s);
}

// Lit pixels of the root window outside one rectangle (the window on it).
long lit_outside(Display *d, int x, int y, int w, int h) {
    Pixels root = read_pixels(d, DefaultRootWindow(d), 0, 0, kScreenW, kScreenH);
    long n = 0;
    for (int row = 0; row < kScreenH; ++row)
        for (int col = 0; col < kScreenW; ++col)
            if (root.rgb(col, row) && !(col >= x && col < x + w && row >= y && row < y + h)) ++n;
    return n;
}

class Desktop : public ::testing::TestWithParam<const char *> {
protected:
    std::string program() const { return GetParam(); }
    void SetUp() override { clear_root(); }
    void clear_root() {
        XClearWindow(c.d, DefaultRootWindow(c.d));
        XSync(c.d, False);
    }
    Connection c{server().display(), XErrors::ignored};
};

// How a run in its own window ends: by the quit key, or by the window manager,
// optionally while paused.
enum class End { quit_key, close, close_while_paused };

TEST_P(Desktop, ClosingTheWindowEndsTheRunLikeTheQuitKeyWithoutClaimingASignal) {
    std::string quit_out;
    for (End end : {End::quit_key, End::close, End::close_while_paused}) {
        SCOPED_TRACE(static_cast<int>(end));
        Process p({program(), "-x", "160", "-y", "120", "-n", "2000"}, env());
        ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
        Window w = 0;
        for (int tries = 0; tries < 200 && !w && p.running(); ++tries) w = find_window(c.d, 0.1);
        ASSERT_NE(w, 0u) << p.err();
        // A window manager sends the close request only to a window that asks for it.
        const auto protocols = wm_protocols(c.d, w);
        EXPECT_NE(std::find(protocols.begin(), protocols.end(), "WM_DELETE_WINDOW"), protocols.end());

        if (end == End::close_while_paused) send_key(c.d, w, XK_space);
        sleep_s(0.3);
        ASSERT_TRUE(p.running());
        if (end == End::quit_key)
            send_key(c.d, w, XK_q);
        else
            send_wm_delete(c.d, w);
        RunResult r = p.wait(15);
        EXPECT_FALSE(r.timed_out) << "the run went on after the request";
        EXPECT_EQ(r.status, 1);
        // The same output, but a close does not claim a signal.
        const std::string tail = exit_tail(program(), end == End::quit_key ? kExitLine : kClosedLine);
        ASSERT_GE(r.out.size(), tail.size());
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
        const std::string before = r.out.substr(0, r.out.size() - tail.size());
        if (end == End::quit_key)
            quit_out = before;
        else
            EXPECT_EQ(before, quit_out);
        EXPECT_TRUE(window_gone(c.d, 5));
        if (!is_plain(program())) {
            const auto ids = printed_segments(r.err);
            ASSERT_EQ(ids.size(), 1u) << r.err;
            EXPECT_FALSE(shm_segment(ids[0]));
        }
    }
}

// In root-window mode a screen saver's window takes the place of the root
// window: the picture is sized by it and centred on it, and the root stays black.
TEST_P(Desktop, ScreenSaverWindowGetsThePicture) {
    struct Case {
        int x, y, w, h;  // the saver's window on the screen
        bool hex;        // its id as 0x-hexadecimal, else decimal
        std::string size_w, size_h;
        Box image;  // where the picture must lie in the window
    } cases[] = {
        {300, 200, 400, 300, false, "200", "100", {100, 100, 300, 200}},
        // No size: the window's width, and its height cut to a multiple of 256, less 256.
        {1000, 300, 640, 600, true, "0", "0", {0, 172, 640, 428}},
    };
    for (const Case &k : cases) {
        const Window saver = make_window(c.d, k.x, k.y, k.w, k.h);
        char id[32];
        snprintf(id, sizeof id, k.hex ? "0x%lx" : "%lu", saver);
        SCOPED_TRACE(id);
        RunResult r = run_program({program(), "-r", "-x", k.size_w, "-y", k.size_h, "-n", "20000", "-l", "30"},
                                  env(std::string(id)), 60);
        EXPECT_EQ(r.status, 1) << r.err;

        const Box lit = lit_box(read_pixels(c.d, saver, 0, 0, k.w, k.h));
        ASSERT_FALSE(lit.empty()) << "nothing drawn in the screen saver's window";
        EXPECT_GE(lit.x0, k.image.x0);
        EXPECT_GE(lit.y0, k.image.y0);
        EXPECT_LE(lit.x1, k.image.x1);
        EXPECT_LE(lit.y1, k.image.y1);
        // The particles spread over the whole picture, so the lit part nearly fills it.
        EXPECT_GT(lit.x1 - lit.x0, (k.image.x1 - k.image.x0) * 8 / 10);
        EXPECT_GT(lit.y1 - lit.y0, (k.image.y1 - k.image.y0) * 8 / 10);
        EXPECT_EQ(lit_outside(c.d, k.x, k.y, k.w, k.h), 0) << "drawn on the root window";
        XDestroyWindow(c.d, saver);
        XSync(c.d, False);
    }
}

// Without the variable (or with one that names no window) the root window is
// drawn on, and given back black when the run ends; without -r the variable
// is not read.
TEST_P(Desktop, WithoutTheVariableTheRootWindowIsDrawnOnAndCleared) {
    const int x = 300, y = 300, w = 400, h = 300;
    const Window saver = make_window(c.d, x, y, w, h);
    for (const std::optional<std::string> &value : {std::optional<std::string>(), std::optional<std::string>("junk")}) {
        SCOPED_TRACE(value.value_or("unset"));
        clear_root();
        Process p({program(), "-r", "-n", "20000"}, env(value));
        EXPECT_TRUE(wait_until([&] { return lit_outside(c.d, x, y, w, h) > 0; }, 30))
            << "nothing drawn on the root window";
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait(30).status, 1);
        EXPECT_EQ(lit_outside(c.d, x, y, w, h), 0) << "the last frame stays on the desktop";
        EXPECT_EQ(lit_count(read_pixels(c.d, saver, 0, 0, w, h)), 0);
    }

    clear_root();
    Process p({program(), "-x", "160", "-y", "120", "-n", "20000", "-l", "30"}, env(std::to_string(saver)));
    EXPECT_NE(find_window(c.d), 0u) << "without -r the program opens its own window";
    EXPECT_EQ(p.wait(60).status, 1);
    EXPECT_EQ(lit_count(read_pixels(c.d, saver, 0, 0, w, h)), 0);
    XDestroyWindow(c.d, saver);
    XSync(c.d, False);
}

// A window manager resizing the window: the picture is made anew at the new
// size and fills it, and the segments of the old sizes are gone at the end.
TEST_P(Desktop, PictureFollowsTheWindowSize) {
    Process p({program(), "-x", "200", "-y", "150", "-n", "20000"}, env());
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    const Window w = find_window(c.d);
    ASSERT_NE(w, 0u) << p.err();
    ASSERT_TRUE(wait_until([&] { return !lit_box(read_pixels(c.d, w, 0, 0, 200, 150)).empty(); }, 20));

    XResizeWindow(c.d, w, 400, 300);
    XSync(c.d, False);
    Box lit;
    EXPECT_TRUE(wait_until(
        [&] {
            lit = lit_box(read_pixels(c.d, w, 0, 0, 400, 300));
            return lit.x1 - lit.x0 > 400 * 8 / 10 && lit.y1 - lit.y0 > 300 * 8 / 10;
        },
        20))
        << "lit " << lit.x0 << "," << lit.y0 << " to " << lit.x1 << "," << lit.y1;

    send_key(c.d, w, XK_q);
    RunResult r = p.wait(15);
    EXPECT_EQ(r.status, 1);
    // The picture of the old size goes silently: the release line ends the run only.
    EXPECT_EQ(r.out.find(kPlainCleanup), is_plain(program()) ? r.out.size() - kPlainCleanup.size() : std::string::npos)
        << r.out;
    // The set-up's lines come once; no segment of either size is left.
    EXPECT_EQ(printed_segments(r.err).size(), is_plain(program()) ? 0u : 1u) << r.err;
    expect_no_segment_left(p.pid());
}

// In root-window mode the picture is sized and centred anew when the screen
// saver's window or the screen changes size, as at start; the root window is
// cleared where the old picture was.
TEST_P(Desktop, RootModePictureFollowsItsDrawable) {
    struct Case {
        bool saver;
        int w, h;    // the drawable at start (a saver's window of this size; else the screen)
        int nw, nh;  // its new size
        Box image;   // where the new picture lies
    } cases[] = {
        // 400 x 300: under 272 lines the whole height. 640 x 600: 600 cut to 512, less 256.
        {true, 400, 300, 640, 600, {0, 172, 640, 428}},
        // 1920 x 1080 gives 1920 x 768; 1280 x 720 gives 1280 x 256, centred.
        {false, kScreenW, kScreenH, 1280, 720, {0, 232, 1280, 488}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.saver ? "screen saver" : "root");
        clear_root();
        const Window target = k.saver ? make_window(c.d, 100, 100, k.w, k.h) : DefaultRootWindow(c.d);
        Process p({program(), "-r", "-n", "20000"},
                  env(k.saver ? std::optional(std::to_string(target)) : std::nullopt));
        ASSERT_TRUE(wait_until([&] { return !lit_box(read_pixels(c.d, target, 0, 0, k.w, k.h)).empty(); }, 30))
            << p.err();
        if (k.saver)
            XResizeWindow(c.d, target, k.nw, k.nh);
        else
            send_configure_notify(c.d, target, k.nw, k.nh);
        XSync(c.d, False);
        const int read_w = std::max(k.w, k.nw), read_h = std::max(k.h, k.nh);
        Box lit;
        auto in_place = [&] {
            lit = lit_box(read_pixels(c.d, target, 0, 0, read_w, read_h));
            // The particles spread over the whole picture, so the lit part nearly fills it.
            return lit.x0 >= k.image.x0 && lit.y0 >= k.image.y0 && lit.x1 <= k.image.x1 && lit.y1 <= k.image.y1 &&
                   lit.x1 - lit.x0 > (k.image.x1 - k.image.x0) * 8 / 10;
        };
        EXPECT_TRUE(wait_until(in_place, 20)) << "lit " << lit.x0 << "," << lit.y0 << " to " << lit.x1 << "," << lit.y1;
        p.signal(SIGTERM);
        RunResult r = p.wait(30);
        EXPECT_EQ(r.status, 1);
        expect_no_segment_left(p.pid());
        if (k.saver) {
            EXPECT_EQ(lit_outside(c.d, 100, 100, k.nw, k.nh), 0) << "drawn on the root window";
            XDestroyWindow(c.d, target);
            XSync(c.d, False);
        } else {
            EXPECT_EQ(lit_outside(c.d, 0, 0, 0, 0), 0) << "the last frame stays on the desktop";
        }
    }
}

// What desktops read to name, group and match the window.
TEST_P(Desktop, WindowCarriesTheDesktopProperties) {
    Process p({program(), "-x", "160", "-y", "120", "-n", "2000"}, env());
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    const Window w = find_window(c.d);
    ASSERT_NE(w, 0u) << p.err();
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string got = shell("DISPLAY=" + server().display() + " xprop -id " + std::to_string(w) +
                                  " WM_NAME _NET_WM_NAME WM_CLASS WM_CLIENT_MACHINE _NET_WM_PID");
    EXPECT_EQ(got,
              "WM_NAME(STRING) = \"vorbles\"\n"
              "_NET_WM_NAME(UTF8_STRING) = \"vorbles\"\n"
              "WM_CLASS(STRING) = \"vorbles\", \"Vorbles\"\n"
              "WM_CLIENT_MACHINE(STRING) = \"" +
                  std::string(host) + "\"\n_NET_WM_PID(CARDINAL) = " + std::to_string(p.pid()) + "\n");
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(30).status, 1);
}

// Rests while the picture is hidden, with no frame sent, and
// carries on when it shows again.
void expect_rest(PutCounter &puts, const std::function<void()> &hide, const std::function<void()> &show) {
    ASSERT_TRUE(wait_until([&] { return puts.during(0.2) > 0; }, 10)) << "no frames to begin with";
    hide();
    sleep_s(0.2);  // the frame under way
    EXPECT_EQ(puts.during(0.6), 0);
    show();
    EXPECT_TRUE(wait_until([&] { return puts.during(0.2) > 0; }, 5)) << "the frames did not resume";
}

// While nothing of the picture can be seen the program sends no frame, and
// it carries on when the picture shows again: its own window unmapped (as a
// window manager iconifies it or switches desktops) or fully covered, and a
// screen saver's window whose host is hidden. A window is seen covered where
// the server says so: not under a compositor, so the covered case runs on a
// server whose windows (of depth 24 there) are not composited.
// (The frame loop is the same in both programs: one is enough.)
TEST(DesktopOneProgram, NoFrameIsSentWhileThePictureCannotBeSeen) {
    const std::string program = VORBLES_BIN;
    Connection c(server().display(), XErrors::ignored);
    Xvfb plain(xvfb_depth24_no_composite());
    for (const Xvfb *on : {&server(), &plain}) {
        const bool cover = on == &plain;
        SCOPED_TRACE(cover ? "covered" : "unmapped");
        Connection x(*on);
        PutCounter puts(on->display());
        Process p({program, "-x", "160", "-y", "120", "-n", "2000"}, {{"DISPLAY", on->display()}});
        ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
        const Window w = find_window(x.d);
        ASSERT_NE(w, 0u);
        Window over = 0;
        expect_rest(
            puts,
            [&] {
                if (cover) {
                    over = XCreateSimpleWindow(x.d, DefaultRootWindow(x.d), 0, 0, 400, 300, 0, 0, 0);
                    XMapRaised(x.d, over);
                } else {
                    XUnmapWindow(x.d, w);
                }
                XSync(x.d, False);
            },
            [&] {
                if (cover)
                    XDestroyWindow(x.d, over);
                else
                    XMapWindow(x.d, w);
                XSync(x.d, False);
            });
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait(15).status, 1);
    }
    SCOPED_TRACE("screen saver's host unmapped");
    PutCounter puts(server().display());
    const Window host = make_window(c.d, 50, 50, 300, 200);
    const Window saver = XCreateSimpleWindow(c.d, host, 0, 0, 300, 200, 0, 0, 0);
    XMapWindow(c.d, saver);
    XSync(c.d, False);
    Process p({program, "-r", "-n", "2000"}, env(std::to_string(saver)));
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    expect_rest(
        puts,
        [&] {
            XUnmapWindow(c.d, host);
            XSync(c.d, False);
        },
        [&] {
            XMapWindow(c.d, host);
            XSync(c.d, False);
        });
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(15).status, 1);
    XDestroyWindow(c.d, host);
    XSync(c.d, False);
}

// With the second group of a us,ru keyboard active, the keys act as in the
// first: q quits, h prints the help.
TEST(DesktopOneProgram, KeysActInEveryGroupOfTheKeyboard) {
    Xvfb own({"-screen", "0", "640x480x24", "-noreset"});
    ASSERT_EQ(shell("setxkbmap -display " + own.display() + " -layout us,ru && echo ok"), "ok\n");
    Connection k(own);
    ASSERT_TRUE(XkbLockGroup(k.d, XkbUseCoreKbd, 1));
    XSync(k.d, False);
    Process p({VORBLES_BIN, "-x", "160", "-y", "120", "-n", "2000"}, {{"DISPLAY", own.display()}});
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    const Window w = find_window(k.d);
    ASSERT_NE(w, 0u);
    send_key(k.d, w, XK_h);
    send_key(k.d, w, XK_q);
    RunResult r = p.wait(15);
    EXPECT_FALSE(r.timed_out) << "q did not quit";
    EXPECT_EQ(occurrences(r.out, "KEYBOARD CONTOLS"), 2) << r.out;
    EXPECT_TRUE(r.out.size() >= kExitLine.size() && r.out.find(kExitLine) != std::string::npos) << r.out;
}

// On a root window that spans two monitors (Xephyr with two heads), the
// picture is sized and centred on the first and the same frame is shown,
// centred, on the second: 800 x 600 gives 800 x 256; on 1024 x 768 at 800, 0
// it lies from 912, 256.
TEST_P(Desktop, PictureIsCentredOnEveryMonitor) {
    Xvfb xephyr("Xephyr", server(), {"-screen", "800x600", "-screen", "1024x768", "+xinerama", "-noreset", "-br"});
    Connection x(xephyr);
    ASSERT_EQ(DisplayWidth(x.d, 0), 1824);
    Process p({program(), "-r", "-n", "20000"}, {{"DISPLAY", xephyr.display()}});
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    const Box first{0, 172, 800, 428}, second{912, 256, 1712, 512};
    bool same = false;
    Box lit_first, lit_second;
    for (int tries = 0; tries < 100 && !same; ++tries, sleep_s(0.05)) {
        const Pixels root = read_pixels(x.d, DefaultRootWindow(x.d), 0, 0, 1824, 768);
        Pixels a = read_pixels(x.d, DefaultRootWindow(x.d), first.x0, first.y0, 800, 256);
        Pixels b = read_pixels(x.d, DefaultRootWindow(x.d), second.x0, second.y0, 800, 256);
        lit_first = lit_box(a);
        lit_second = lit_box(b);
        long outside = 0;
        for (int y = 0; y < 768; ++y)
            for (int col = 0; col < 1824; ++col) {
                const bool in_first = col >= first.x0 && col < first.x1 && y >= first.y0 && y < first.y1;
                const bool in_second = col >= second.x0 && col < second.x1 && y >= second.y0 && y < second.y1;
                outside += root.rgb(col, y) != 0 && !in_first && !in_second;
            }
        EXPECT_EQ(outside, 0);
        same = !lit_first.empty() && a == b;
    }
    EXPECT_TRUE(same) << "the monitors do not show the same frame";
    EXPECT_GT(lit_first.x1 - lit_first.x0, 600) << "the picture does not fill its place";
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(15).status, 1);
}

// The sample bitmap that the README and the manual page suggest: a valid XBM
// whose 756 set pixels (the word in 3x3 blocks) become fixed particles.
TEST(SampleBitmap, LaysOutTheWord) {
    const std::string path = VORBLES_SOURCE_DIR "/share/vorbles.xbm";
    RunResult r = run_program({VORBLES_PLAIN_BIN, "-i", path, "-x", "240", "-y", "150", "-l", "12"}, env(), 60);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.out.find("Reading from file " + path +
                         " returns 0\n"
                         "Opened file is 144 x 90, requiring a max of 12960 particles\n"
                         "Set psys count to 7560\n"
                         "Finished off having setup 7560 pixels from 7570\n"),
              std::string::npos)
        << r.out;
}

INSTANTIATE_TEST_SUITE_P(BothPrograms, Desktop, ::testing::Values(VORBLES_BIN, VORBLES_PLAIN_BIN),
                         [](const auto &info) { return is_plain(info.param) ? "plain" : "shm"; });

}  // namespace
