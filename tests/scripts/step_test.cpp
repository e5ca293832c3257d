// scripts/step, which runs each step of the make targets: one line on the
// terminal, the output in a log, the end of the log when the step fails.
#include <gtest/gtest.h>

#include <string>

#include "support/proc.h"

namespace {

const std::string kStep = std::string(VORBLES_SOURCE_DIR) + "/scripts/step";

RunResult step(const std::vector<std::string> &args, const std::string &verbose = "0") {
    std::vector<std::string> argv = {kStep};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_program(argv, {{"V", verbose}}, 30);
}

TEST(Step, SaysOneLineAndKeepsTheOutputInTheLog) {
    TempDir dir;
    const std::string log = dir / "sub/build.log";
    RunResult r = step({"--show", "passed", "testing", log, "echo 3 passed; echo progress >&2"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "testing (log: " + log + ")\n3 passed\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(log), "3 passed\nprogress\n");

    RunResult loud = step({"testing", dir / "other.log", "echo 3 passed"}, "1");
    EXPECT_EQ(loud.out, "== testing: echo 3 passed\n3 passed\n");
}

TEST(Step, AFailureShowsTheLastLinesOfTheLogAndKeepsTheStatus) {
    TempDir dir;
    const std::string log = dir / "build.log";
    RunResult r = step({"building", log, "seq 100; echo 'error: it broke' >&2; exit 3"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "building (log: " + log + ")\n");
    std::string tail = "failed: building (status 3). The last lines of " + log + ":\n";
    for (int i = 62; i <= 100; ++i) tail += std::to_string(i) + "\n";
    EXPECT_EQ(r.err, tail + "error: it broke\n");
}

}  // namespace
