// The terminal on POSIX: standard output, the keys read from the controlling
// terminal (never from standard input), the mode the terminal is given back
// in, and the signals that stop or end the program. Runs on the main thread
// and its signal handlers; calls only the system. What a wait watches
// besides the keys, its caller hands in.
//
// The terminal follows job control as states. Without /dev/tty there are
// no keys. Otherwise the process is in the background (not the terminal's
// foreground process group: it neither reads the terminal nor sets its
// mode) or in the foreground (it has saved the mode it found, set its key
// mode, and reads keys). It looks which holds at start, on SIGCONT and
// before every wait. A stop (Ctrl+Z, SIGTSTP, SIGTTOU) gives the mode back
// first when the foreground is ours; SIGTTIN is ignored, so a read that
// loses a race with "bg" fails instead of stopping the program.
#pragma once

#include <cstdint>

#include "platform/posix/waits.h"

// Blocks until `descriptor` polls readable, an Esc key press waits at the
// terminal, or `timeout_ms` has passed. Keys are left where they are, for
// the player to read. A KeyWatchingWait.
WaitEnd WaitForDescriptorOrEsc(int descriptor, int timeout_ms);

// Blocks for at most `timeout_ms` until a key press is pending or
// `descriptor` polls readable (-1: keys only); returns at once when either
// already holds.
void WaitForKeyOrDescriptor(int descriptor, uint32_t timeout_ms);

// Gives the terminal back in the mode it was found in.
void GiveTerminalBack();
