// scripts/ensure-packages, the dependency step of every make target: it helps
// and never blocks. dpkg, apt-get and id are stand-ins here, put first on the
// path, so that nothing is installed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/proc.h"

namespace {

const std::string kEnsure = std::string(VORBLES_SOURCE_DIR) + "/scripts/ensure-packages";

// A Debian system on amd64 on which "present" and the C library (2.36-1) are
// installed and nothing else, for the user of the given id; apt-get prints
// what apt prints, notes its arguments in the file calls and ends with
// apt_status. The archive has the C library at 2.36-1 for every architecture,
// and the GCC runtime at another version.
struct FakeDebian {
    FakeDebian(int uid, int apt_status) {
        mkdir(bin.c_str(), 0755);
        write_script(bin + "/id", "echo " + std::to_string(uid) + "\n");
        write_script(bin + "/dpkg-query",
                     "case $3 in present) echo 'install ok installed' ;; libc6:amd64) echo 2.36-1 ;;\n"
                     "libgcc-s1:amd64) echo 12.2.0-14 ;; *) exit 1 ;; esac\n");
        write_script(bin + "/dpkg", "[ \"$1\" = --print-architecture ] && echo amd64; exit 0\n");
        write_script(bin + "/apt-cache", "echo \"${2%%:*} | $([ ${2%%:*} = libc6 ] && echo 2.36-1 || echo 13) | x\"\n");
        const std::string status = std::to_string(apt_status);
        const std::string failure = "{ echo 'E: Unable to locate package absent-b' >&2; exit " + status +
                                    "; }\nexit 0\n";
        write_script(bin + "/apt-get", "echo \"$@\" >> '" + calls + "'\necho 'Reading database ... 5%'\n" +
                                           "[ \"$1\" = install ] && [ " + status + " != 0 ] && " + failure);
    }
    RunResult ensure(const std::vector<EnvChange> &extra = {},
                     const std::vector<std::string> &packages = {"present", "absent-a", "absent-b"}) const {
        std::vector<EnvChange> env = {{"PATH", bin + ":" + getenv("PATH")}, {"V", std::nullopt}};
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<std::string> argv = {kEnsure, "--log", log};
        argv.insert(argv.end(), packages.begin(), packages.end());
        return run_program(argv, env, 30);
    }
    TempDir dir;
    const std::string bin = dir / "bin", calls = dir / "calls", log = dir / "setup.log";
};

TEST(EnsurePackages, WithoutDpkgTheBuildGoesStraightToCMake) {
    TempDir dir;
    const std::string path = path_without(dir, {"dpkg", "dpkg-query", "apt-get", "apt"});
    RunResult step = run_program({kEnsure, "cmake", "absent-a"}, {{"PATH", path}}, 30);
    EXPECT_EQ(step.status, 0);
    EXPECT_EQ(step.out + step.err, "");

    // The Makefile's dependency step, then CMake; as a make of its own, not
    // one under the make that may be running the tests.
    const std::string build = dir / "build";
    RunResult make = run_program(
        {"make", "-C", VORBLES_SOURCE_DIR, "--no-print-directory", "configure", "BUILD=" + build},
        {{"PATH", path}, {"V", std::nullopt}, {"MAKEFLAGS", std::nullopt}, {"MAKELEVEL", std::nullopt}}, 120);
    EXPECT_EQ(make.status, 0) << make.err << slurp(build + "/build.log");
    EXPECT_EQ(make.out, "configuring " + build + " (log: " + build + "/build.log)\n");
    EXPECT_EQ(make.err, "");
    EXPECT_NE(slurp(build + "/CMakeCache.txt").find("VORBLES_TESTS:BOOL=ON"), std::string::npos);
}

TEST(EnsurePackages, WithoutRootItSaysWhatIsMissingAndGoesOn) {
    FakeDebian debian(1000, 0);
    RunResult r = debian.ensure();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "missing 2 packages: absent-a absent-b\n"
              "  install them with:  sudo apt-get update && sudo apt-get install -y absent-a absent-b\n");
    EXPECT_EQ(slurp(debian.calls), "");
}

TEST(EnsurePackages, AsRootItInstallsTheMissingOnesQuietly) {
    FakeDebian debian(0, 0);
    RunResult r = debian.ensure();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "installing 2 packages (log: " + debian.log + ")\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(slurp(debian.calls), "update -q\ninstall -y -q --no-install-recommends absent-a absent-b\n");
    EXPECT_EQ(slurp(debian.log), "Reading database ... 5%\nReading database ... 5%\n");

    // V=1 shows apt's own output instead.
    RunResult loud = debian.ensure({{"V", "1"}});
    EXPECT_EQ(loud.out, "installing 2 packages: absent-a absent-b\nReading database ... 5%\nReading database ... 5%\n");
}

// Another architecture's packages come with its C library at the installed
// one's version, which the archive has; the GCC runtime, at another version
// there, is left to apt.
TEST(EnsurePackages, AnotherArchitectureGetsTheCLibraryOfTheInstalledVersion) {
    FakeDebian debian(0, 0);
    RunResult r = debian.ensure({}, {"libx11-dev:s390x"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(debian.calls),
              "update -q\ninstall -y -q --no-install-recommends libx11-dev:s390x libc6:s390x=2.36-1\n");
}

TEST(EnsurePackages, AFailedInstallShowsTheEndOfTheLogAndGoesOn) {
    FakeDebian debian(0, 100);
    RunResult r = debian.ensure();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "installing 2 packages (log: " + debian.log + ")\n");
    EXPECT_EQ(r.err, "could not install absent-a absent-b; going on without them. The last lines of " + debian.log +
                         ":\nReading database ... 5%\nReading database ... 5%\nE: Unable to locate package absent-b\n");
}

}  // namespace

// Without GoogleTest a build for the tests stops with the package's name, and
// a test run that finds no tests fails, instead of an empty suite passing.
TEST(EnsurePackages, WithoutGoogleTestTheTestBuildStops) {
    TempDir dir;
    RunResult configure = run_program({CMAKE_COMMAND, "-S", VORBLES_SOURCE_DIR, "-B", dir / "build",
                                       "-DVORBLES_REQUIRE_TESTS=ON", "-DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON",
                                       "-DVORBLES_BENCH=OFF"},
                                      {}, 120);
    EXPECT_NE(configure.status, 0);
    EXPECT_NE(configure.err.find("GoogleTest not found (Debian: libgtest-dev"), std::string::npos) << configure.err;
    RunResult ctest = run_program({"sh", "-c", "cd \"$0\" && ctest --no-tests=error", dir.path}, {}, 30);
    EXPECT_NE(ctest.status, 0) << ctest.out;
}
