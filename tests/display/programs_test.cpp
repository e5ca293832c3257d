// Whole runs of vorbles: its shared-memory segment from start to end, and
// servers that cannot share memory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/shm.h>

#include <regex>

#include "support/proc.h"
#include "xhelp.h"

namespace {

const std::string kProgress = "Created Shared memory segment ID: [0-9]+\nHave attached shm segment at 0x[0-9a-f]+\n";
const std::vector<std::string> kSmall = {"-x", "120", "-y", "90", "-n", "500"};

std::vector<std::string> command(const char *program, std::vector<std::string> extra) {
    std::vector<std::string> args = {program};
    args.insert(args.end(), kSmall.begin(), kSmall.end());
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

std::vector<EnvChange> on(Server s) { return {{"DISPLAY", server(s).display()}}; }

// The segment's mode and its mark for removal while in use are the set-up's
// own test (gfx_test); here, that a whole run ends without it.
TEST(Programs, SegmentIsGoneAfterANormalEnd) {
    Process p(command(VORBLES_BIN, {"-l", "48"}), on(Server::depth24));
    ASSERT_TRUE(p.wait_for("Have attached shm segment at ", 30, true)) << p.err();
    const int id = printed_shm_id(p.err());
    ASSERT_GE(id, 0);
    ASSERT_TRUE(shm_segment(id));
    RunResult r = p.wait(60);
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(std::regex_match(r.err, std::regex(kProgress))) << r.err;
    EXPECT_TRUE(shm_gone_within(id, 5));
}

TEST(Programs, KilledRunLeavesNoSegment) {
    Process p(command(VORBLES_BIN, {}), on(Server::depth24));
    ASSERT_TRUE(p.wait_for("KEYBOARD CONTOLS", 30)) << p.err();
    const int id = printed_shm_id(p.err());
    ASSERT_GE(id, 0);
    sleep_s(0.2);  // a few frames
    p.signal(SIGKILL);
    EXPECT_EQ(p.wait(10).signal, SIGKILL);
    EXPECT_TRUE(shm_gone_within(id, 10));
}

// The attach message and status 1 from the program's own ending, not from
// Xlib's handler of protocol errors, a last line that points to the other
// program, and no segment left behind.
void expect_attach_refused(Server s) {
    RunResult r = run_program(command(VORBLES_BIN, {"-l", "5"}), on(s), 60);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "Showing 5 frames and quitting\n");
    EXPECT_TRUE(std::regex_match(r.err, std::regex(kProgress + "XServer failed to attache to shared memory segment\n"
                                                               "Unable to initialise graphics routines\n"
                                                               "vorbles-plain draws without shared memory: .*\n")))
        << r.err;
    const int id = printed_shm_id(r.err);
    EXPECT_GE(id, 0);
    EXPECT_TRUE(shm_gone_within(id, 5));
}

TEST(Programs, ServerWithoutSharedMemoryEndsTheSharedMemoryProgram) { expect_attach_refused(Server::no_shm); }

TEST(Programs, ServerThatCannotReachTheSegmentEndsTheSharedMemoryProgram) {
    if (!can_run_foreign_server()) GTEST_SKIP() << "needs root to run a server as another user";
    expect_attach_refused(Server::foreign_user);
}

}  // namespace
