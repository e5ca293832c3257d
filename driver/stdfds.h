// The three standard descriptors, made safe to rely on before anything is opened.
#pragma once

// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed, so that the
// next descriptor the program opens (the X connection, a bitmap file) cannot
// take one of their numbers and receive the program's messages. Returns 1, or 0
// when a closed one could not be filled.
int fill_closed_std_fds();
