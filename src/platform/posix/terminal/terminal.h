// The terminal on POSIX: the keys read from the controlling terminal (never
// from standard input), the mode the terminal is given back in, and the
// signals that stop or end the program. Calls only the system. What a wait
// watches besides the keys, its caller hands in.
//
// The terminal follows job control as states. Without /dev/tty there are
// no keys. Otherwise the process is in the background (not the terminal's
// foreground process group: it neither reads the terminal nor sets its
// mode) or in the foreground (it has saved the mode it found, set its key
// mode, and reads keys). InForeground (keyboard.h) is the one place that
// says which holds; it is asked at start and once a pass of every wait,
// and in the background a wait passes at least every 50 ms, since a shell's
// "fg" may move the foreground of a running job without a signal. A
// script's background command (ownership.h) never opens the terminal,
// though it may share the script's process group. The key mode only turns
// echo and line editing off: Ctrl+C, Ctrl+\ and Ctrl+Z keep their signals.
// A terminal that hangs up, or stops being ours, is closed and no longer
// looked at; the program ends only by the SIGHUP the kernel or the shell
// sends (a disowned job plays on), unless SIGHUP was ignored at start.
//
// Threads and signals: everything here runs on the main thread, and only the
// main thread changes the terminal's mode, with one exception: a fault of
// the program (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, or SIGABRT
// from an exception that escaped a worker's job) comes on the thread that
// made it, and its handler gives the mode back from there, since that thread
// may never let the main thread run again. Workers block every other
// signal. Signal handlers only record that something happened, except where
// they must act before the process stops or dies:
//   - SIGCONT writes a byte to the wake descriptor, which every wait polls,
//     so that a wait wakes and the main thread takes the keys again;
//   - a stop (Ctrl+Z, SIGTSTP, SIGTTOU) gives the mode back first when the
//     foreground is ours, then stops, then writes the wake descriptor; but
//     a SIGTTOU that refuses our own mode call from the background makes
//     that call fail instead, so that a stop in the middle of a mode change
//     never makes the job stop itself again after "bg";
//   - every signal whose default action ends the process (SIGINT, SIGTERM,
//     SIGHUP, SIGQUIT, the faults, SIGUSR1, SIGALRM, the real-time signals
//     and the rest) gives the mode back, then ends the process by that same
//     signal.
// Each gives back only while the terminal still holds the mode this process
// set: a caller such as watch, or another copy of the program in the same
// job, may have put its own since. Which signal is which, system.h's table
// says.
// So a handler touches the wake descriptor and, to give the mode back, the
// saved mode, the flag that says it is owed, and the terminal's descriptor.
// The main thread changes those only with the signals whose handlers read
// them on the main thread blocked, so such a handler never sees half a
// change; it writes the saved mode before the flag, for a fault's handler on
// another thread. SIGTTIN is ignored: a read that loses a race with "bg"
// fails instead of stopping the program.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/waits.h"

// Blocks until `descriptor` polls readable, an Esc key press waits at the
// terminal, or `timeout_ms` has passed. Keys are left where they are, for
// the player to read. A DescriptorWait.
WaitEnd WaitForDescriptorOrEsc(int descriptor, int timeout_ms);

// Blocks for at most `timeout_ms` until a key press is pending or
// `descriptor` polls readable (-1: keys only); returns at once when either
// already holds.
void WaitForKeyOrDescriptor(int descriptor, uint32_t timeout_ms);

// Gives the terminal back in the mode it was found in, for good: a later
// SIGCONT does not take it again.
void GiveTerminalBack();

// At start: opens the terminal, installs the signal handlers and, in the
// foreground, takes the key mode (platform::PrepareConsole).
void PrepareTerminal();

// The oldest key press not yet removed, as platform::PeekKeyEvent; and its
// removal, as platform::RemoveKeyEvent.
bool PeekKeyPress(platform::KeyEvent* event);
void RemoveKeyPress();
// Installs the handlers of every signal by its kind in system.h's table.
// First thing at start, before any thread: the faults' handlers must be
// there before any worker, and SIGPIPE ignored before any write.
void InstallSignalHandlers();
