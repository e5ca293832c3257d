#include "e2e.h"

#include <sstream>

#include "support/proc.h"

const char kKeyboardHelp[] =
    "\n\n\n      ---- KEYBOARD CONTOLS ----\n"
    "      (Just press them randomly!)\n"
    "CURRENT FORCE SYSTEM PARAMETER CONTROLS:\n"
    "  Decrease/Increase variable 1 : '9' / '0'\n"
    "  Decrease/Increase variable 2 : 'o' / 'p'\n"
    "  Decrease/Increase variable 3 : 'l' / ';'\n"
    "  Decrease/Increase variable 4 : '.' / '/'\n"
    "  Restore to defaults          : 'd'\n"
    "\nFORCE SYSTEM:\n"
    "  grav                         : '1'\n"
    "  angular                      : '2'\n"
    "  other (weird)                : '3'\n"
    "  spring                       : '4'\n"
    "  cheesy starfield             : '5'\n"
    "  Random                       : 'n'\n"
    "  Display this info            : 'h'\n"
    "\nGENERAL:\n"
    "  Reset positions + velocities : 'r'\n"
    "  Switch to other renderer     : 'R'\n"
    "  Toggle vertical gravity      : 'g'\n"
    "  PAUSE/UNPAUSE                : ' '\n"
    "QUIT                           : 'q'\n"
    "\n\n\n\n"
    "run program with -h to see a list of command line options\n"
    " e.g. -x 800 -y 600 or somesuch.\n\n\n"
    "Any and all feedback is really welcome, so please \n"
    "send patches, advice, ideas, thoughts etc. to\n"
    "\tvorbles-maintainers@example.org\n"
    "\n\n";

unsigned long find_window(const std::string &display) {
    RunResult r = run_program({"xdotool", "search", "--sync", "--name", "^vorbles$"}, {{"DISPLAY", display}}, 20);
    return r.status == 0 ? std::stoul(r.out) : 0;
}

bool send_keys(const std::string &display, unsigned long window, const std::vector<std::string> &keys) {
    std::vector<std::string> args = {"xdotool", "key", "--window", std::to_string(window), "--delay", "5"};
    args.insert(args.end(), keys.begin(), keys.end());
    return run_program(args, {{"DISPLAY", display}}, 30).status == 0;
}

std::vector<std::string> segments_created_by(pid_t pid) {
    // ipcs -m -p: shmid, owner, creator pid, last-operator pid.
    std::istringstream in(shell("ipcs -m -p"));
    std::vector<std::string> ids;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream f(line);
        std::string id, owner, cpid;
        if (f >> id >> owner >> cpid && cpid == std::to_string(pid)) ids.push_back(id);
    }
    return ids;
}

int occurrences(const std::string &s, const std::string &text) {
    int n = 0;
    for (size_t at = s.find(text); at != std::string::npos; at = s.find(text, at + text.size())) ++n;
    return n;
}
