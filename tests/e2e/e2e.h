// Helpers for running the programs on a private X server and steering them.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// The keyboard help as the programs print it.
extern const char kKeyboardHelp[];

// The id of the program's top-level window "vorbles" (waits for it), or 0.
unsigned long find_window(const std::string &display);

// Sends key presses (xdotool key names such as "q", "space", "semicolon") to a window.
bool send_keys(const std::string &display, unsigned long window, const std::vector<std::string> &keys);

// Ids of the shared-memory segments created by a process that still exist.
std::vector<std::string> segments_created_by(pid_t pid);

// Number of times text occurs in s.
int occurrences(const std::string &s, const std::string &text);
