// The entry points, on top of everything: each platform's main
// (posix_main.cpp or win32_main.cpp, chosen by the build) starts the core
// through RunProcess and ends the process. Nothing below includes this room.
#pragma once

#include <cstdint>

// Prepares the console, finds the command tail, runs the player once and
// returns its result, which the platform's entry point makes the exit code.
int32_t RunProcess();
