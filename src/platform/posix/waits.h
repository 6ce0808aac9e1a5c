// What the program's waits have in common, and the one wait they all come
// down to. Sound and terminal both wait through it; neither calls the other:
// the sound code is handed a wait that watches the keys, and
// contract.cpp is where the two meet.
#pragma once

#include <poll.h>

#include <cstdint>

// How a wait ended.
enum class WaitEnd { kReady, kEscPressed, kTimedOut };

// A wait that blocks until `descriptor` polls readable or `timeout_ms` has
// passed, and, when it watches the keys, until an Esc key press waits at the
// terminal (keys are left where they are, for the player to read).
using DescriptorWait = WaitEnd (*)(int descriptor, int timeout_ms);

// The moment `timeout_ms` from now on the monotonic clock (a negative
// timeout is now).
uint64_t DeadlineAfter(int timeout_ms);

// The program's one bounded wait: blocks until one of `watched` polls
// ready or `deadline` has passed. A signal does not end it early; what a
// signal must wake is a descriptor in `watched`. Returns the number of
// descriptors ready, 0 at the deadline, -1 when poll fails.
int PollUntil(pollfd* watched, nfds_t count, uint64_t deadline);

// A DescriptorWait that does not watch the keys.
WaitEnd WaitForDescriptor(int descriptor, int timeout_ms);
