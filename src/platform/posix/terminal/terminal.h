// The terminal on POSIX: standard output, the keys read from the controlling
// terminal (never from standard input), the mode the terminal is given back
// in, and the signals that stop or end the program. Runs on the main thread
// and its signal handlers; calls only the system. What a wait watches
// besides the keys, its caller hands in.
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
