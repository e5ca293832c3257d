// The two programs under test and what both print as a run ends.
#pragma once

#include <string>

inline const char *const kPrograms[] = {VORBLES_BIN, VORBLES_PLAIN_BIN};

// Printed when the run ends on the quit key, a signal or a lost window.
inline const std::string kExitLine = "Exiting due to received signal\n";
// What vorbles-plain alone prints as it releases its image at the end.
inline const std::string kPlainCleanup = "Not cleaning up anything... ! Yikes!\n";

inline bool is_plain(const std::string &program) { return program.find("plain") != std::string::npos; }
