// Whose the terminal is: the two rules by which the terminal room
// (terminal.cpp) decides whether it may give a mode back and whether it may
// take the keys at all. Both are async-signal-safe.
#pragma once

#include <termios.h>

// Whether the terminal, found in mode `now`, still holds the key mode this
// process set (`ours`, as the terminal took it): only then is the mode it
// found at start its to give back. A mode set since is someone else's.
bool StillHoldsOurMode(const termios& now, const termios& ours);

// Whether the process was started as a script's background command: a shell
// without job control starts one with SIGINT and SIGQUIT ignored and
// standard input (`input`) on /dev/null. Both signs are needed: a foreground
// command whose caller ignores those signals (trap '' INT QUIT) has its
// standard input on a file, a pipe or the terminal, and takes the keys.
bool StartedInAScriptsBackground(int input);
