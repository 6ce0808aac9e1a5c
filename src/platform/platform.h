// The operating system as the rest of PELDO sees it.
//
// Every call into the system goes through one of these functions. Each
// platform implements all of them in its own folder (posix/, win32/) and the
// build links exactly one; unit tests of the core link a fake instead. The
// functions have the shape of the system calls the program needs, so the
// core reads the same on every platform. None of them throws.
#pragma once

#include <cstdint>

namespace platform {

// ---- Process -------------------------------------------------------------

// The whole command line of the process as one zero-terminated byte string,
// program name first. Valid for the life of the process.
const char* CommandLine();

// Takes the standard handles that a parent passed with the start-up
// information, where the platform has such a thing (nothing on POSIX).
void TakeStartupHandles();

// ---- Text storage ----------------------------------------------------------

// `size` bytes of fresh storage, or nullptr when none can be had.
void* AllocateTextStorage(uint32_t size);
// Gives back storage from AllocateTextStorage; nullptr is ignored.
void ReleaseTextStorage(void* storage);

// ---- The system's error value and error prompts -----------------------------

// Clears the calling thread's error value (errno, the last-error value).
void ClearSystemError();
// The calling thread's error value; 0 means no error.
uint32_t SystemError();
// Stops the system from prompting the user about a failing device; returns
// the setting in force before. A no-op where the system never prompts.
uint32_t SuppressErrorPrompts();
// Puts back a setting returned by SuppressErrorPrompts.
void RestoreErrorPrompts(uint32_t previous);

// ---- Console -------------------------------------------------------------

// Start-up work on the console: takes the standard handles, opens the
// keyboard for key polling and sets the modes that output and polling need.
// Failures are silent: without a keyboard every poll answers "no key".
void PrepareConsole();

// One write of `length` bytes to standard output, unbuffered. Returns
// non-zero when the system call reported success and stores the count of
// bytes it took in *written. May block while the reader is slow.
int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written);

// One console input event, as the keyboard delivers it.
struct KeyEvent {
  bool is_key = false;         // false: mouse, focus, size or similar event
  bool key_down = false;       // false: a key release
  uint8_t scan_code = 0;       // PC scan code of the key (low byte)
  uint8_t character = 0;       // the 8-bit character, 0 for keys that have none
  uint32_t control_state = 0;  // kRightAlt | kLeftAlt | kShift | kCapsLock bits
};
constexpr uint32_t kRightAltPressed = 0x0001;
constexpr uint32_t kLeftAltPressed = 0x0002;
constexpr uint32_t kShiftPressed = 0x0010;
constexpr uint32_t kCapsLockOn = 0x0080;
// The Esc key: its character and its scan code.
constexpr uint8_t kEscCharacter = 27;
constexpr uint8_t kEscScanCode = 0x01;

// Looks at the oldest pending keyboard event without removing it. Returns
// false at once when none is pending or the keyboard cannot be read.
bool PeekKeyEvent(KeyEvent* event);
// Removes the oldest pending keyboard event (the one PeekKeyEvent showed).
void RemoveKeyEvent();

// Blocks for at most `timeout_ms` until a keyboard event is pending or the
// sound that is playing ends; returns at once when either already holds. A
// platform that has no way to wait for the end of a sound returns after a
// short while of its own choosing, so that its caller's status query sees it.
void WaitForKeyOrSoundEnd(uint32_t timeout_ms);

// Milliseconds from an arbitrary start; never goes backwards.
uint64_t MonotonicMilliseconds();

// ---- Sound ---------------------------------------------------------------

// Carries out one media command string: "open NAME", "play NAME",
// "status NAME mode" or "close NAME", NAME in double quotes. Returns 0 on
// success or an error code. A reply ("playing", "stopped") goes to `reply`,
// cut to `reply_capacity` bytes including its terminator; `reply` may be
// null. "play" returns as soon as the sound has started.
uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity);

// Describes an error code of SendMediaCommand in words, zero-terminated,
// cut to `size` bytes. Returns false (and writes nothing) for an unknown code.
bool DescribeMediaError(uint32_t code, char* buffer, uint32_t size);

// Sets the wave output volume of the first output device: the low 16 bits
// are the left channel, the high 16 bits the right one. Failures are silent.
void SetWaveOutVolume(uint32_t volume_word);

// ---- File search ---------------------------------------------------------

constexpr uint32_t kAttributeHidden = 0x2;
constexpr uint32_t kAttributeSystem = 0x4;
constexpr uint32_t kAttributeDirectory = 0x10;

// One directory entry found by a search: its attribute bits and its name
// alone (no directory part), as the file system stores it.
struct FindData {
  uint32_t attributes = 0;
  char name[260] = {};
};

using SearchHandle = intptr_t;
constexpr SearchHandle kInvalidSearch = -1;

// Starts a search for `pattern`: a path whose last component may hold the
// wildcards * and ?. Fills *data with the first matching entry and returns a
// handle, or returns kInvalidSearch when nothing matches.
SearchHandle FindFirstEntry(const char* pattern, FindData* data);
// Fills *data with the next matching entry. At the end it returns false and
// leaves the system error value set; on success the value is 0. A search may
// leave out "." and "..", and any entry whose hidden, system and directory
// bits are those of an entry it has already delivered: its caller chooses
// by those bits alone.
bool FindNextEntry(SearchHandle search, FindData* data);
// Ends a search and frees what it holds.
bool CloseSearch(SearchHandle search);

}  // namespace platform
