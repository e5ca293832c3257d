// `make deb`: the Debian package CPack makes of the build, unpacked into a
// scratch root as dpkg would install it, and the programs run from there.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/proc.h"
#include "support/window.h"
#include "support/xvfb.h"

namespace {

TEST(Package, HoldsTheProgramsTheirPagesAndTheBitmapUnderUsrAndRuns) {
    TempDir dir;
    RunResult made = run_program({CPACK_COMMAND, "-G", "DEB", "--config", VORBLES_BINARY_DIR "/CPackConfig.cmake", "-B",
                                  dir.path},
                                 {}, 120);
    ASSERT_EQ(made.status, 0) << made.out << made.err;
    const std::string deb = shell("ls '" + dir.path + "'/vorbles_*.deb | tr -d '\\n'");
    ASSERT_FALSE(deb.empty()) << made.out;

    // The control fields, the dependencies as dpkg-shlibdeps found them.
    std::map<std::string, std::string> fields;
    for (const std::string &line : lines(run_program({"dpkg-deb", "-I", deb}, {}, 30).out)) {
        const size_t colon = line.find(": ");
        if (line.size() > 1 && line[0] == ' ' && line[1] != ' ' && colon != std::string::npos)
            fields[line.substr(1, colon - 1)] = line.substr(colon + 2);
    }
    EXPECT_EQ(fields["Package"], "vorbles");
    EXPECT_EQ(fields["Version"], "1.0");
    EXPECT_EQ(fields["Section"], "games");
    EXPECT_EQ(fields["Architecture"] + "\n", run_program({"dpkg", "--print-architecture"}, {}, 30).out);
    for (const char *library : {"libc6 (>= ", "libx11-6", "libxext6"})
        EXPECT_NE(fields["Depends"].find(library), std::string::npos) << fields["Depends"];

    const std::string root = dir / "root";
    ASSERT_EQ(run_program({"dpkg", "-x", deb, root}, {}, 30).status, 0);
    EXPECT_EQ(shell("cd '" + root + "' && find . ! -type d -printf '%P %m\\n' | sort"),
              "usr/bin/vorbles 755\n"
              "usr/bin/vorbles-plain 755\n"
              "usr/share/man/man6/vorbles-plain.6.gz 644\n"
              "usr/share/man/man6/vorbles.6.gz 644\n"
              "usr/share/vorbles/vorbles.xbm 644\n");
    EXPECT_EQ(slurp(root + "/usr/share/vorbles/vorbles.xbm"), slurp(VORBLES_SOURCE_DIR "/share/vorbles.xbm"));
    EXPECT_NE(shell("zcat '" + root + "/usr/share/man/man6/vorbles.6.gz'").find("/usr/share/vorbles/vorbles.xbm"),
              std::string::npos);

    // Both installed programs open their window on a server and end as usual.
    Xvfb server(xvfb_depth24());
    Connection c(server);
    for (const char *program : {"vorbles", "vorbles-plain"}) {
        SCOPED_TRACE(program);
        Process p({root + "/usr/bin/" + program, "-l", "24", "-x", "160", "-y", "100", "-n", "2000"},
                  {{"DISPLAY", server.display()}});
        EXPECT_NE(find_window(c.d), 0u) << p.err();
        RunResult r = p.wait(30);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(lines(r.out).at(0), "Showing 24 frames and quitting");
    }
}

}  // namespace
