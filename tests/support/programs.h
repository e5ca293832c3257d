// The two programs under test and what both print as a run ends.
#pragma once

#include <string>

inline const char *const kPrograms[] = {VORBLES_BIN, VORBLES_PLAIN_BIN};

// Printed when the run ends on the quit key or a signal.
inline const std::string kExitLine = "Exiting due to received signal\n";
// Printed when the window manager closed the window, or the drawable was destroyed.
inline const std::string kClosedLine = "Exiting: the window was closed\n";
inline const std::string kDestroyedLine = "Exiting: the window was destroyed\n";
// What vorbles-plain alone prints as it releases its image at the end.
inline const std::string kPlainCleanup = "Not cleaning up anything... ! Yikes!\n";

// The keyboard help as the programs print it.
inline const std::string kKeyboardHelp =
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

inline bool is_plain(const std::string &program) { return program.find("plain") != std::string::npos; }

// What a run prints last when it ends with the given line (the quit key or a signal by default).
inline std::string exit_tail(const std::string &program, const std::string &line = kExitLine) {
    return line + (is_plain(program) ? kPlainCleanup : "");
}
