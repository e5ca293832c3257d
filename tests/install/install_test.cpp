// `make install` as a packager runs it: cmake --install with DESTDIR and a
// prefix, then the manual pages as man shows them.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "support/proc.h"

namespace {

// A DESTDIR holding one installation under a prefix.
struct Installed {
    explicit Installed(const std::string &prefix) : prefix(prefix) {
        char tmpl[] = "/tmp/vorbles-install-test-XXXXXX";
        destdir = mkdtemp(tmpl);
        result = run_program({CMAKE_COMMAND, "--install", VORBLES_BINARY_DIR, "--prefix", prefix},
                             {{"DESTDIR", destdir}}, 120);
    }
    ~Installed() { shell("rm -rf '" + destdir + "'"); }
    std::string path(const std::string &relative) const { return destdir + prefix + "/" + relative; }
    // Every file installed, relative to DESTDIR, with its mode bits.
    std::map<std::string, std::string> files() const {
        std::map<std::string, std::string> found;
        for (const std::string &line : lines(shell("cd '" + destdir + "' && find . ! -type d -printf '%P %m\\n'"))) {
            const size_t blank = line.rfind(' ');
            found[line.substr(0, blank)] = line.substr(blank + 1);
        }
        return found;
    }
    std::string prefix, destdir;
    RunResult result;
};

const std::vector<EnvChange> kManEnv = {
    {"MANWIDTH", "80"}, {"LC_ALL", "C.UTF-8"}, {"MANPAGER", "cat"}, {"PAGER", "cat"}, {"MAN_KEEP_FORMATTING", {}}};

// man on the installed manual, as a user runs it: vorbles-plain's page is a
// .so link to vorbles's, which only resolves inside the manual's tree.
RunResult man_page(const Installed &at, const std::string &program, bool warnings = false) {
    std::vector<std::string> argv = {"man", "-M", at.path("share/man"), "6", program};
    if (warnings) argv.insert(argv.begin() + 1, "--warnings");
    return run_program(argv, kManEnv, 60);
}

// A page as man shows it, section by section.
std::map<std::string, std::vector<std::string>> sections(const Installed &at, const std::string &program) {
    std::map<std::string, std::vector<std::string>> by_heading;
    std::string heading = "";
    for (const std::string &line : lines(man_page(at, program).out)) {
        if (!line.empty() && line[0] != ' ' && line.find('(') == std::string::npos)
            heading = line;
        else if (!heading.empty())
            by_heading[heading].push_back(line);
    }
    return by_heading;
}

// The paragraph of a tagged item: its tag line and the indented lines below it.
std::string item(const std::vector<std::string> &section, const std::string &tag) {
    const std::string start = "       " + tag;
    for (size_t i = 0; i < section.size(); ++i) {
        const std::string &line = section[i];
        if (line.compare(0, start.size(), start) != 0) continue;
        if (line.size() > start.size() && line[start.size()] != ' ') continue;
        std::string text = line;
        for (size_t j = i + 1; j < section.size() && section[j].compare(0, 14, "              ") == 0; ++j)
            text += "\n" + section[j];
        return text;
    }
    return "";
}

// The words of a section, without the spacing that justification varies.
std::string words(const std::vector<std::string> &section) {
    std::string text;
    for (const std::string &line : section) {
        std::istringstream in(line);
        for (std::string word; in >> word;) text += word + " ";
    }
    return text;
}

const char *const kPages[] = {"vorbles", "vorbles-plain"};

TEST(Install, LaysOutBothProgramsTheirPagesAndTheBitmap) {
    Installed usr("/usr");
    ASSERT_EQ(usr.result.status, 0) << usr.result.out << usr.result.err;
    const std::map<std::string, std::string> want = {
        {"usr/bin/vorbles", "755"},
        {"usr/bin/vorbles-plain", "755"},
        {"usr/share/man/man6/vorbles.6", "644"},
        {"usr/share/man/man6/vorbles-plain.6", "644"},
        {"usr/share/vorbles/vorbles.xbm", "644"},
    };
    EXPECT_EQ(usr.files(), want);
    EXPECT_EQ(slurp(usr.path("share/vorbles/vorbles.xbm")), slurp(VORBLES_SOURCE_DIR "/share/vorbles.xbm"));
    for (const char *program : kPages) {
        // The installed programs run: the usage text, named as invoked.
        const std::string bin = usr.path(std::string("bin/") + program);
        RunResult r = run_program({bin, "-h"}, {{"DISPLAY", std::nullopt}}, 30);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lines(r.out).at(0), bin);
    }
}

// make install takes what make built and does nothing else: no package step
// (dpkg and apt are off the path here), and a clear refusal where nothing
// was built.
TEST(Install, MakeInstallInstallsWhatWasBuiltAndNothingElse) {
    TempDir dir;
    const std::vector<EnvChange> env = {{"PATH", path_without(dir, {"dpkg", "dpkg-query", "apt-get", "apt"})},
                                        {"V", std::nullopt},
                                        {"MAKEFLAGS", std::nullopt},
                                        {"MAKELEVEL", std::nullopt}};
    const std::vector<std::string> make = {"make", "-C", VORBLES_SOURCE_DIR, "--no-print-directory", "install"};
    std::vector<std::string> args = make;
    args.insert(args.end(), {"BUILD=" VORBLES_BINARY_DIR, "PREFIX=/usr", "DESTDIR=" + dir.path + "/stage"});
    RunResult r = run_program(args, env, 120);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    for (const std::string &line : lines(r.out)) EXPECT_EQ(line.rfind("-- ", 0), 0u) << line;
    EXPECT_EQ(slurp(dir.path + "/stage/usr/bin/vorbles"), slurp(VORBLES_BIN));

    args = make;
    args.insert(args.end(), {"BUILD=" + dir.path + "/empty", "DESTDIR=" + dir.path + "/none"});
    RunResult none = run_program(args, env, 60);
    EXPECT_NE(none.status, 0);
    EXPECT_EQ(lines(none.err).at(0), "nothing to install in " + dir.path + "/empty: build it first (make)");
    EXPECT_EQ(shell("ls -A '" + dir.path + "'"), "path-without\nstage\n");
}

TEST(Install, PagesNameTheBitmapWhereItWasInstalled) {
    for (const std::string prefix : {"/usr", "/opt/vorbles"}) {
        Installed at(prefix);
        ASSERT_EQ(at.result.status, 0) << at.result.err;
        const std::string page = slurp(at.path("share/man/man6/vorbles.6"));
        EXPECT_NE(page.find(prefix + "/share/vorbles/vorbles.xbm"), std::string::npos) << prefix;
        EXPECT_EQ(page.find("/usr/local"), std::string::npos) << prefix;
        EXPECT_EQ(slurp(at.path("share/man/man6/vorbles-plain.6")), ".so man6/vorbles.6\n") << prefix;
    }
}

TEST(Install, PagesRenderWithoutWarnings) {
    Installed usr("/usr");
    ASSERT_EQ(usr.result.status, 0) << usr.result.err;
    for (const std::string program : kPages) {
        const std::string page = usr.path("share/man/man6/" + program + ".6");
        RunResult man = man_page(usr, program, true);
        EXPECT_EQ(man.status, 0);
        EXPECT_EQ(man.err, "") << program;
        EXPECT_GT(man.out.size(), 2000u);
        RunResult groff = run_program({"groff", "-man", "-ww", "-z", "-I", usr.path("share/man"), page}, kManEnv, 60);
        EXPECT_EQ(groff.err, "") << program;
        // The NAME line that whatis and apropos index.
        RunResult name = run_program({"lexgrog", page}, kManEnv, 60);
        EXPECT_EQ(name.status, 0);
        EXPECT_NE(name.out.find(": \"" + program + " - particle trails for X"), std::string::npos) << name.out;
    }
}

TEST(Install, PagesDescribeEveryOptionKeyAndVariable) {
    // The options the usage text lists, and the two it leaves out.
    std::set<std::string> options = {"-R", "-i"};
    for (const std::string &line : lines(run_program({VORBLES_BIN, "-h"}, {}, 30).out))
        if (line.size() > 2 && line[0] == '\t' && line[1] == '-') options.insert(line.substr(1, 2));
    ASSERT_EQ(options.size(), 12u);
    // Limits each numeric option's entry must give.
    const std::map<std::string, std::vector<std::string>> limits = {
        {"-x", {"16 to 4096", "800"}},
        {"-y", {"16 to 4096", "600", "256"}},
        {"-n", {"1 to 2000000", "10000"}},
        {"-b", {"eight bits", "50"}},
        {"-m", {"0 to 10000"}},
        {"-l", {"0 to 10000"}},
        {"-c", {"ccaaff"}},
    };
    const char *const keys[] = {"1", "2", "3", "4", "5", "n", "9", "0", "o", "p",    "l",
                                ";", ".", "/", "d", "r", "g", "R", "h", "q", "space"};

    Installed usr("/usr");
    ASSERT_EQ(usr.result.status, 0) << usr.result.err;
    std::map<std::string, std::vector<std::string>> first;
    for (const std::string program : kPages) {
        SCOPED_TRACE(program);
        auto page = sections(usr, program);
        for (const char *heading :
             {"NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "KEYS", "ENVIRONMENT", "EXIT STATUS", "FILES"}) {
            EXPECT_TRUE(page.count(heading)) << heading;
        }
        for (const std::string &option : options) {
            const std::string entry = item(page["OPTIONS"], option);
            EXPECT_FALSE(entry.empty()) << option;
            if (!limits.count(option)) continue;
            const std::string text = words(lines(entry));  // as justified lines may space it
            for (const std::string &limit : limits.at(option)) {
                EXPECT_NE(text.find(limit), std::string::npos) << option << " lacks " << limit;
            }
        }
        for (const char *key : keys) {
            EXPECT_FALSE(item(page["KEYS"], key).empty()) << key;
        }
        for (const char *var : {"DISPLAY", "XSCREENSAVER_WINDOW", "VORBLES_THREADS"}) {
            EXPECT_FALSE(item(page["ENVIRONMENT"], var).empty()) << var;
        }
        for (const char *status : {"0", "1"}) {
            EXPECT_FALSE(item(page["EXIT STATUS"], status).empty()) << status;
        }
        // The two programs differ only in the transport: the same options, keys and the rest.
        if (first.empty()) {
            first = page;
        } else {
            for (const char *same : {"OPTIONS", "KEYS", "ENVIRONMENT", "EXIT STATUS", "FILES"}) {
                EXPECT_EQ(words(page[same]), words(first[same])) << same;
            }
        }
    }
}

}  // namespace
