// Start-up and exit.
#pragma once

#include <cstdint>

// Prepares the console, finds the command tail, runs the player once and
// returns its result, which the platform's entry point makes the exit code.
int32_t RunProcess();
