// What the program's waits have in common. The terminal does the waiting,
// the sound code hands it what to wait for; neither room calls the other,
// and waits.cpp is where the two meet.
#pragma once

// How a wait that also watches the keys ended.
enum class WaitEnd { kReady, kEscWaiting, kTimedOut };

// A wait that blocks until `descriptor` polls readable, an Esc key press
// waits at the terminal, or `timeout_ms` has passed. Keys are left where
// they are, for the player to read.
using KeyWatchingWait = WaitEnd (*)(int descriptor, int timeout_ms);
