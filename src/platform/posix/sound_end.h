// What the POSIX layer's sound and terminal code need of each other, and the
// process's last step with sound.
#pragma once

// A descriptor that polls readable from the moment the playing sound has
// ended (or failed) until the next "play"; -1 when no sound is open.
int SoundEndDescriptor();

// How a wait for a descriptor ended.
enum class WaitEnd { kReady, kEscWaiting, kTimedOut };

// Blocks until `descriptor` polls readable, an Esc key press waits at the
// terminal, or `timeout_ms` has passed. Keys are left where they are, for
// the player to read.
WaitEnd WaitForDescriptorOrEsc(int descriptor, int timeout_ms);

// At the end of the process: lets the tail of the last sound play out, but
// waits no longer than a device that still answers needs for it.
void FinishSound();

// Gives the terminal back in the mode it was found in.
void GiveTerminalBack();
