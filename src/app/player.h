// The command-line player: options, messages and the repetition loop.
#pragma once

#include <cstdint>

// Reads the command tail, prints what the user sees, plays the file once per
// repetition. Returns the exit code: 0, or 1 after the usage text or a
// missing file.
int32_t RunPlayer();
// Prints the header and the usage text: what a run with no argument shows.
void PrintHelp();
// Prints the first two header lines: the program's name and version, and
// its maker.
void PrintVersion();
