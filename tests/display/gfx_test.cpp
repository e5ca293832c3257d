// The display subsystem on real (virtual) X servers: visual, window, root and
// screen-saver drawables, the image transport, keys and the close request.
// Built once per transport (DISPLAY_TEST_SHM: the shared-memory one).
#include <gtest/gtest.h>

#include <algorithm>

#include <X11/Xatom.h>
#include <X11/keysym.h>
#include <sys/shm.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/gfx-x.h"
#include "support/proc.h"
#include "xhelp.h"

namespace {

// Any protocol error that reaches the test's handler fails the test that caused
// it; without the handler Xlib would end the whole program.
int x_errors = 0;
int count_error(Display *, XErrorEvent *) {
    ++x_errors;
    return 0;
}

class OnServer : public testing::Test {
protected:
    void SetUp() override {
        XSetErrorHandler(count_error);
        x_errors = 0;
    }
    void TearDown() override { EXPECT_EQ(x_errors, 0) << "X protocol errors"; }
};

// Sets an environment variable for one scope.
struct EnvVar {
    std::string name;
    EnvVar(const char *n, const char *value) : name(n) {
        if (value)
            setenv(n, value, 1);
        else
            unsetenv(n);
    }
    ~EnvVar() { unsetenv(name.c_str()); }
};

// gfx_SetupGfx on a test server with the record filled as the driver does;
// cleaned up at the end of the scope when it succeeded.
struct Session {
    gfx g{};
    int ok = 0;
    std::string err;
    Session(Server s, int w, int h, int use_root = 0) {
        g.width = w;
        g.height = h;
        g.use_root = use_root;
        g.base_color = 0xccaaff;
        g.default_width = 800;
        g.default_height = 600;
        setenv("DISPLAY", server(s).display().c_str(), 1);
        testing::internal::CaptureStderr();
        ok = gfx_SetupGfx(&g);
        err = testing::internal::GetCapturedStderr();
    }
    void cleanup() {
        if (ok) gfx_cleanup(&g);
        ok = 0;
    }
    ~Session() { cleanup(); }
};

unsigned long depth_mask(int depth) { return depth >= 32 ? 0xffffffffUL : (1UL << depth) - 1; }

unsigned long pattern(const gfx &g, int x, int y) { return g.cmap[(x * 7 + y * 13) & 255]; }

// Reads w x h pixels at (x, y) of the drawable back from the server and
// compares them with the image from column ix, row iy on.
void expect_on_server(Display *d, Drawable from, int x, int y, const gfx &g, int ix, int iy, int w, int h) {
    XSync(d, False);
    const Pixels got = read_pixels(d, from, x, y, w, h);
    const unsigned long mask = depth_mask(g.vinfo.depth);
    int wrong = 0;
    for (int row = 0; row < h; ++row)
        for (int col = 0; col < w; ++col)
            if ((got.at(col, row) & mask) != (XGetPixel(g.image, ix + col, iy + row) & mask) && wrong++ < 5)
                ADD_FAILURE() << "pixel " << col << "," << row << ": server " << std::hex << got.at(col, row)
                              << " image " << XGetPixel(g.image, ix + col, iy + row);
    EXPECT_EQ(wrong, 0);
}

void paint_pattern(gfx &g) {
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x) XPutPixel(g.image, x, y, pattern(g, x, y));
}

TEST_F(OnServer, VisualIsTheDeepestTrueColourForTheOwnWindowAndTheRootsDepthOnTheRoot) {
    struct Case {
        Server s;
        int use_root, depth;
    } cases[] = {{Server::depth24, 0, 32},
                 {Server::depth24, 1, 24},
                 {Server::depth24_no_composite, 0, 24},
                 {Server::depth16, 0, 16},
                 {Server::depth16, 1, 16}};
    for (const Case &c : cases) {
        Session s(c.s, 64, 48, c.use_root);
        ASSERT_TRUE(s.ok) << s.err;
        EXPECT_EQ(s.g.vinfo.depth, c.depth);
        EXPECT_EQ(s.g.image->depth, c.depth);
        XWindowAttributes attr;
        XGetWindowAttributes(s.g.display, s.g.window, &attr);
        EXPECT_EQ(attr.depth, c.depth);
        if (c.depth == 16) {
            EXPECT_EQ(s.g.cmap[128], 0x186fu);
        }
        gfx_display_image(&s.g);  // a depth the drawable refuses would be a protocol error
    }
}

TEST_F(OnServer, OwnWindowIsTitledMappedAndSizeIsCorrected) {
    struct Case {
        int w, h, want_w, want_h;
    } cases[] = {{15, 17, 800, 17},    {4097, 16, 800, 16}, {0, 4096, 800, 4096},
                 {-5, 4097, 800, 600}, {16, -1, 16, 600},   {4096, 0, 4096, 600}};
    Connection p(server(Server::depth24_no_composite));
    for (const Case &c : cases) {
        Session s(Server::depth24_no_composite, c.w, c.h);
        ASSERT_TRUE(s.ok) << s.err;
        EXPECT_EQ(s.g.width, c.want_w);
        EXPECT_EQ(s.g.height, c.want_h);
        EXPECT_EQ(s.g.x_offset, 0);
        EXPECT_EQ(s.g.y_offset, 0);
        EXPECT_EQ(windows_titled(p.d, "vorbles").count(s.g.window), 1u);
        XWindowAttributes attr;
        XGetWindowAttributes(p.d, s.g.window, &attr);
        EXPECT_EQ(attr.width, c.want_w);
        EXPECT_EQ(attr.height, c.want_h);
        EXPECT_EQ(attr.map_state, IsViewable);
    }
}

// What a window manager reads and asks: the size range 16..4096, input in
// the normal state, and an answer to its ping, sent back to the root window.
TEST_F(OnServer, WindowManagerHintsAndPing) {
    Connection p(server(Server::depth24_no_composite));
    Session s(Server::depth24_no_composite, 64, 48);
    ASSERT_TRUE(s.ok) << s.err;
    XSizeHints size{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(p.d, s.g.window, &size, &supplied));
    EXPECT_EQ(size.flags & (PMinSize | PMaxSize), PMinSize | PMaxSize);
    EXPECT_EQ(size.min_width, 16);
    EXPECT_EQ(size.min_height, 16);
    EXPECT_EQ(size.max_width, 4096);
    EXPECT_EQ(size.max_height, 4096);
    XWMHints *wm = XGetWMHints(p.d, s.g.window);
    ASSERT_NE(wm, nullptr);
    EXPECT_TRUE(wm->flags & InputHint && wm->input);
    EXPECT_TRUE(wm->flags & StateHint && wm->initial_state == NormalState);
    XFree(wm);

    XSelectInput(p.d, DefaultRootWindow(p.d), SubstructureNotifyMask);
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = s.g.window;
    ping.xclient.message_type = XInternAtom(p.d, "WM_PROTOCOLS", False);
    ping.xclient.format = 32;
    ping.xclient.data.l[0] = static_cast<long>(XInternAtom(p.d, "_NET_WM_PING", False));
    ping.xclient.data.l[1] = 4242;
    ping.xclient.data.l[2] = static_cast<long>(s.g.window);
    XSendEvent(p.d, s.g.window, False, NoEventMask, &ping);
    XSync(p.d, False);
    XSync(s.g.display, False);
    EXPECT_EQ(gfx_close_requested(&s.g), 0);
    XEvent answer{};
    ASSERT_TRUE(wait_until([&] { return XCheckTypedWindowEvent(p.d, DefaultRootWindow(p.d), ClientMessage, &answer); },
                           5));
    EXPECT_EQ(answer.xclient.data.l[1], 4242);
    EXPECT_EQ(static_cast<Window>(answer.xclient.data.l[2]), s.g.window);
}

TEST_F(OnServer, RootWindowImageIsSizedAndCentredOnTheScreen) {
    struct Case {
        int w, h, want_w, want_h, x, y;
    } cases[] = {{0, 0, 1920, 768, 0, 156},
                 {800, 600, 800, 600, 560, 240},
                 {4000, 0, 4000, 768, -1040, 156},
                 {0, 600, 1920, 600, 0, 240},
                 {800, 5000, 800, 768, 560, 156}};
    for (const Case &c : cases) {
        Session s(Server::depth24, c.w, c.h, 1);
        ASSERT_TRUE(s.ok) << s.err;
        EXPECT_EQ(s.g.window, DefaultRootWindow(s.g.display));
        EXPECT_EQ(s.g.wm_delete, None);
        EXPECT_EQ(s.g.width, c.want_w);
        EXPECT_EQ(s.g.height, c.want_h);
        EXPECT_EQ(s.g.x_offset, c.x);
        EXPECT_EQ(s.g.y_offset, c.y);
    }
}

// Every pixel starts as colour-table entry 0 (opaque black on a depth-32
// visual), and a picture written into the image is what the server shows.
TEST_F(OnServer, ImageReachesTheWindowUnchanged) {
    std::vector<Server> servers = {Server::depth24, Server::depth24_no_composite, Server::depth16};
#ifndef DISPLAY_TEST_SHM
    servers.push_back(Server::no_shm);
#endif
    for (Server srv : servers) {
        Session s(srv, 61, 47);  // odd width: 16-bit rows are padded
        ASSERT_TRUE(s.ok) << s.err;
        const unsigned long mask = depth_mask(s.g.vinfo.depth);
        int unset = 0;
        for (int i = 0; i < s.g.width * s.g.height; ++i) unset += s.g.buffer[i] != 0;
        for (int y = 0; y < s.g.height; ++y)
            for (int x = 0; x < s.g.width; ++x) unset += (XGetPixel(s.g.image, x, y) & mask) != (s.g.cmap[0] & mask);
        EXPECT_EQ(unset, 0) << "depth " << s.g.vinfo.depth;
        Connection p(server(srv));
        gfx_display_image(&s.g);
        expect_on_server(p.d, s.g.window, 0, 0, s.g, 0, 0, s.g.width, s.g.height);
        paint_pattern(s.g);
        gfx_display_image(&s.g);
        expect_on_server(p.d, s.g.window, 0, 0, s.g, 0, 0, s.g.width, s.g.height);
    }
}

TEST_F(OnServer, ImageReachesTheRootWindowAtItsOffsetsAndIsClipped) {
    Connection p(server(Server::depth24));
    {
        Session s(Server::depth24, 800, 600, 1);
        ASSERT_TRUE(s.ok) << s.err;
        paint_pattern(s.g);
        gfx_display_image(&s.g);
        expect_on_server(p.d, DefaultRootWindow(p.d), 560, 240, s.g, 0, 0, 800, 600);
    }
    Session wide(Server::depth24, 4000, 100, 1);
    ASSERT_TRUE(wide.ok) << wide.err;
    ASSERT_EQ(wide.g.x_offset, -1040);
    ASSERT_EQ(wide.g.y_offset, 490);
    paint_pattern(wide.g);
    gfx_display_image(&wide.g);
    expect_on_server(p.d, DefaultRootWindow(p.d), 0, 490, wide.g, 1040, 0, 1920, 100);
}

TEST_F(OnServer, UnsetDisplayIsNamedNull) {
    EnvVar unset("DISPLAY", nullptr);
    gfx g{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(gfx_SetupGfx(&g), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open display (null)\n");
}

// A spare key code, mapped to a Latin-1 letter above 127.
KeyCode map_eacute(Display *d) {
    int lo, hi, per;
    XDisplayKeycodes(d, &lo, &hi);
    KeySym *map = XGetKeyboardMapping(d, lo, hi - lo + 1, &per);
    KeyCode spare = 0;
    for (int code = hi; code >= lo && !spare; --code) {
        bool empty = true;
        for (int k = 0; k < per; ++k) empty = empty && map[(code - lo) * per + k] == NoSymbol;
        if (empty) spare = static_cast<KeyCode>(code);
    }
    XFree(map);
    KeySym eacute = XK_eacute;
    if (spare) XChangeKeyboardMapping(d, spare, 1, &eacute, 1);
    XSync(d, False);
    return spare;
}

void send(Display *d, Window w, int type, long mask, unsigned code) {
    XEvent ev{};
    ev.xkey.type = type;
    ev.xkey.display = d;
    ev.xkey.window = w;
    ev.xkey.root = DefaultRootWindow(d);
    ev.xkey.time = CurrentTime;
    ev.xkey.same_screen = True;
    ev.xkey.keycode = code;  // the button number for a ButtonPress
    XSendEvent(d, w, True, mask, &ev);
}

TEST_F(OnServer, KeysComeInOrderAndCloseRequestLeavesThemAlone) {
    Connection p(server(Server::depth24_no_composite));
    const KeyCode eacute = map_eacute(p.d);
    ASSERT_NE(eacute, 0);
    Session s(Server::depth24_no_composite, 64, 48);
    ASSERT_TRUE(s.ok) << s.err;
    EXPECT_EQ(wm_protocols(p.d, s.g.window), (std::vector<std::string>{"WM_DELETE_WINDOW", "_NET_WM_PING"}));
    const Window w = s.g.window;
    EXPECT_EQ(gfx_getkey(&s.g), 0);
    // Not close requests: another protocol of the window manager, and a
    // message of another type that carries WM_DELETE_WINDOW all the same.
    const char *const not_close[][2] = {{"WM_PROTOCOLS", "WM_TAKE_FOCUS"},
                                        {"VORBLES_TEST_MESSAGE", "WM_DELETE_WINDOW"}};
    for (const auto &m : not_close) {
        XEvent ev{};
        ev.xclient.type = ClientMessage;
        ev.xclient.window = w;
        ev.xclient.message_type = XInternAtom(p.d, m[0], False);
        ev.xclient.format = 32;
        ev.xclient.data.l[0] = static_cast<long>(XInternAtom(p.d, m[1], False));
        XSendEvent(p.d, w, False, NoEventMask, &ev);
        XSync(p.d, False);
        XSync(s.g.display, False);
        EXPECT_EQ(gfx_close_requested(&s.g), 0) << m[0] << " " << m[1];
    }

    send_key(p.d, w, XK_Shift_L);
    send_key(p.d, w, XK_a);
    send(p.d, w, MotionNotify, PointerMotionMask, 0);
    send(p.d, w, ButtonPress, ButtonPressMask, 1);
    send_key(p.d, w, XK_q);
    send_wm_delete(p.d, w);
    send_key(p.d, w, XK_space);
    send(p.d, w, KeyPress, KeyPressMask, eacute);
    send_key(p.d, w, XK_Control_R);
    send_key(p.d, w, XK_Shift_L);
    XSync(p.d, False);
    XSync(s.g.display, False);

    EXPECT_EQ(gfx_close_requested(&s.g), GFX_CLOSE_ASKED);
    EXPECT_EQ(gfx_close_requested(&s.g), 0);
    // A modifier alone gives no character: it is taken off the queue and
    // passed over, so it neither reads as 0 nor holds up the presses behind it.
    const int want[] = {'a', 'q', ' ', static_cast<signed char>(0xe9), 0};
    for (int key : want) EXPECT_EQ(gfx_getkey(&s.g), key);
    EXPECT_EQ(XPending(s.g.display), 0) << "pointer events or key presses left in the queue";
}

TEST_F(OnServer, RootWindowModeSeesNoKeys) {
    Session s(Server::depth24, 64, 48, 1);
    ASSERT_TRUE(s.ok) << s.err;
    shell("DISPLAY=" + server(Server::depth24).display() + " xdotool key a b c");
    XSync(s.g.display, False);
    EXPECT_EQ(gfx_getkey(&s.g), 0);
    EXPECT_EQ(gfx_close_requested(&s.g), 0);
}

// The own window's new size, as a window manager sets it, reaches the image at
// the next drain: only the latest size, within 16..4096; a move changes nothing.
TEST_F(OnServer, ImageFollowsTheOwnWindowsSize) {
    Session s(Server::depth24, 64, 48);
    ASSERT_TRUE(s.ok) << s.err;
    Connection p(server(Server::depth24));
    const XImage *first = s.g.image;
    XMoveWindow(p.d, s.g.window, 30, 20);
    XSync(p.d, False);
    XSync(s.g.display, False);
    gfx_follow_size(&s.g);
    EXPECT_EQ(s.g.image, first);

#ifdef DISPLAY_TEST_SHM
    const int first_segment = printed_shm_id(s.err);
#endif
    XResizeWindow(p.d, s.g.window, 300, 200);
    XResizeWindow(p.d, s.g.window, 10, 5000);
    XSync(p.d, False);
    XSync(s.g.display, False);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(gfx_close_requested(&s.g), 0);
    EXPECT_EQ(s.g.image, first) << "the close check only checks";
    gfx_follow_size(&s.g);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(s.g.width, 16);
    EXPECT_EQ(s.g.height, 4096);
    ASSERT_NE(s.g.image, nullptr);
    EXPECT_EQ(s.g.image->width, 16);
    EXPECT_EQ(s.g.image->height, 4096);
#ifdef DISPLAY_TEST_SHM
    XSync(s.g.display, False);  // as the next put does: the server lets go of the old segment
    EXPECT_TRUE(shm_gone_within(first_segment, 5));
    // One new segment, of the new image's size, made without a word.
    const long long size = static_cast<long long>(s.g.image->bytes_per_line) * 4096;
    const std::vector<int> now = segments_created_by_pid(getpid());
    EXPECT_EQ(std::count_if(now.begin(), now.end(), [&](int id) { return shm_segment(id)->size == size; }), 1);
#endif
    EXPECT_EQ(err, "");

    XResizeWindow(p.d, s.g.window, 300, 200);
    XSync(p.d, False);
    XSync(s.g.display, False);
    testing::internal::CaptureStderr();
    gfx_follow_size(&s.g);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(s.g.width, 300);
    int dirty = 0;
    for (int i = 0; i < 300 * 200; ++i) dirty += s.g.buffer[i] != 0;
    EXPECT_EQ(dirty, 0);
    paint_pattern(s.g);
    gfx_display_image(&s.g);
    expect_on_server(p.d, s.g.window, 0, 0, s.g, 0, 0, 300, 200);
}

// A window of the test's own standing in for a screen saver's.
struct SaverWindow {
    Connection p;
    Window w;
    SaverWindow(int x, int y, int wd, int ht, int depth = 24) : p(server(Server::depth24)) {
        XVisualInfo vi;
        XMatchVisualInfo(p.d, DefaultScreen(p.d), depth, TrueColor, &vi);
        XSetWindowAttributes a{};
        a.colormap = XCreateColormap(p.d, DefaultRootWindow(p.d), vi.visual, AllocNone);
        w = XCreateWindow(p.d, DefaultRootWindow(p.d), x, y, wd, ht, 0, depth, InputOutput, vi.visual,
                          CWColormap | CWBorderPixel | CWBackPixel, &a);
        XMapWindow(p.d, w);
        XSync(p.d, False);
    }
    std::string hex() const {
        char id[32];
        snprintf(id, sizeof id, "0x%lx", w);
        return id;
    }
};

TEST_F(OnServer, ScreenSaverWindowIsUsedInRootMode) {
    SaverWindow saver(100, 50, 1000, 700);
    struct Case {
        std::string id;
        int w, h, want_w, want_h, x, y;
    } cases[] = {{saver.hex(), 0, 0, 1000, 256, 0, 222}, {std::to_string(saver.w), 800, 600, 800, 600, 100, 50}};
    for (const Case &c : cases) {
        EnvVar env("XSCREENSAVER_WINDOW", c.id.c_str());
        Session s(Server::depth24, c.w, c.h, 1);
        ASSERT_TRUE(s.ok) << s.err;
        EXPECT_EQ(s.g.window, saver.w);
        EXPECT_EQ(s.g.width, c.want_w);
        EXPECT_EQ(s.g.height, c.want_h);
        EXPECT_EQ(s.g.x_offset, c.x);
        EXPECT_EQ(s.g.y_offset, c.y);
        paint_pattern(s.g);
        gfx_display_image(&s.g);
        expect_on_server(saver.p.d, saver.w, c.x, c.y, s.g, 0, 0, c.want_w, c.want_h);
    }
    // The one set-up without the variable draws on the root window again.
    Session plain(Server::depth24, 64, 48, 1);
    ASSERT_TRUE(plain.ok) << plain.err;
    EXPECT_EQ(plain.g.window, DefaultRootWindow(plain.g.display));
}

TEST_F(OnServer, ScreenSaverWindowOfDepth32GetsADepth32Image) {
    SaverWindow saver(0, 0, 320, 240, 32);
    EnvVar env("XSCREENSAVER_WINDOW", saver.hex().c_str());
    Session s(Server::depth24, 0, 0, 1);
    ASSERT_TRUE(s.ok) << s.err;
    EXPECT_EQ(s.g.vinfo.depth, 32);
    // Under 272 lines the cut to a multiple of 256 leaves nothing: the whole height is used.
    EXPECT_EQ(s.g.width, 320);
    EXPECT_EQ(s.g.height, 240);
    paint_pattern(s.g);
    gfx_display_image(&s.g);
    expect_on_server(saver.p.d, saver.w, 0, 0, s.g, 0, 0, 320, 240);
}

TEST_F(OnServer, InvalidScreenSaverWindowMeansTheRootWindow) {
    SaverWindow saver(0, 0, 100, 100);
    // A real window's id with anything before or after it names no window either.
    const std::string bad[] = {"",
                               "junk",
                               "0x",
                               "12abc",
                               "-" + std::to_string(saver.w),
                               " " + std::to_string(saver.w),
                               saver.hex() + "junk",
                               std::to_string(saver.w) + " ",
                               "0",
                               "0x7ffffff",
                               "99999999999999999999"};
    for (const std::string &id : bad) {
        EnvVar env("XSCREENSAVER_WINDOW", id.c_str());
        Session s(Server::depth24, 64, 48, 1);
        ASSERT_TRUE(s.ok) << s.err;
        EXPECT_EQ(s.g.window, DefaultRootWindow(s.g.display)) << "\"" << id << "\"";
    }
}

#ifdef DISPLAY_TEST_SHM

TEST_F(OnServer, SegmentIsPrivateSizedByTheImageAndGoesAtCleanup) {
    Session s(Server::depth16, 61, 47);
    ASSERT_TRUE(s.ok) << s.err;
    const int id = printed_shm_id(s.err);
    char want[160];
    snprintf(want, sizeof want, "Created Shared memory segment ID: %d\nHave attached shm segment at %p\n", id,
             static_cast<void *>(s.g.image->data));
    EXPECT_EQ(s.err, want);
    shmid_ds ds;
    ASSERT_EQ(shmctl(id, IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0600u);
    EXPECT_TRUE(ds.shm_perm.mode & SHM_DEST) << "not marked for removal while in use";
    EXPECT_EQ(ds.shm_segsz, static_cast<size_t>(s.g.image->bytes_per_line) * 47);
    EXPECT_GT(s.g.image->bytes_per_line, 61 * 2) << "rows expected to be padded";
    s.cleanup();
    EXPECT_TRUE(shm_gone_within(id, 5));
}

// A server that cannot attach the segment: the attach message, a failed
// set-up, and nothing left behind: no segment, no window, no connection.
void expect_refused_attach(Server srv) {
    Connection p(server(srv));
    Session s(srv, 64, 48);
    EXPECT_EQ(s.ok, 0);
    const int id = printed_shm_id(s.err);
    ASSERT_GE(id, 0) << s.err;
    EXPECT_NE(s.err.find("\nXServer failed to attache to shared memory segment\n"), std::string::npos) << s.err;
    EXPECT_TRUE(shm_gone_within(id, 5));
    EXPECT_EQ(s.g.display, nullptr);
    EXPECT_EQ(s.g.image, nullptr);
    bool window_gone = false;
    for (int i = 0; i < 100 && !window_gone; ++i, sleep_s(0.02)) window_gone = windows_titled(p.d, "vorbles").empty();
    EXPECT_TRUE(window_gone);
}

TEST_F(OnServer, ServerWithoutSharedMemoryFailsTheSetUp) { expect_refused_attach(Server::no_shm); }

TEST_F(OnServer, ServerThatCannotReachTheSegmentFailsTheSetUp) {
    if (!can_run_foreign_server()) GTEST_SKIP() << "needs root to run a server as another user";
    expect_refused_attach(Server::foreign_user);
}

#else

TEST_F(OnServer, PlainTransportIsSilentUntilCleanup) {
    Session s(Server::depth24, 64, 48);
    ASSERT_TRUE(s.ok) << s.err;
    EXPECT_EQ(s.err, "");
    testing::internal::CaptureStdout();
    s.cleanup();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Not cleaning up anything... ! Yikes!\n");
}

#endif

}  // namespace
