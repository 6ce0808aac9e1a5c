// What the terminal's two files share: terminal.cpp owns the terminal (its
// descriptor, mode, signals and waits), keys.cpp reads and decodes the key
// presses it sends. Main thread only.
#pragma once

#include <cstdint>

// The controlling terminal, or -1 when keys cannot be read.
int KeyboardDescriptor();

// Whether the process is the terminal's foreground process group: only then
// may it read the terminal or set its mode. The one place that says so.
// Async-signal-safe, on any thread.
bool InForeground();

// The terminal has gone away, or is no longer ours: it is given back where
// it can be and never looked at again. The program plays on.
void StopReading();

// Decodes the next key press, to be shown by PeekKeyPress (terminal.h),
// skipping what is no key press; false when none is complete yet.
bool DecodeNext();

// Whether an Esc key press is among the keys not yet taken; they stay in
// place. *incomplete tells whether the last bytes may still become a key.
bool EscWaiting(bool* incomplete);

// Whether bytes wait that are not yet taken as key presses.
bool KeysPending();
// Drops every byte read and not yet taken.
void ForgetKeys();

// How long until a lone Esc byte has had its time to become the Esc key.
uint64_t LoneEscWaitMs();
