// The platform contract (platform/platform.h) on POSIX, one line a function:
// each hands the call to the room that does it. Where a room must wait for
// the keys, the terminal's wait is handed in here, so that the sound and
// files rooms never call the terminal.
#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/system.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/posix/waits.h"

namespace {

// An Esc typed before or during a directory search counts once the search
// has had this long after it to answer: one that answers by then goes on as
// if at once, and that Esc stops the first playback, as it always has.
constexpr uint64_t kAnswerAfterEscMs = 300;

WaitEnd WaitForSearch(int descriptor, int timeout_ms) {
  const uint64_t deadline = DeadlineAfter(timeout_ms);
  const WaitEnd end = WaitForDescriptorOrEsc(descriptor, timeout_ms);
  if (end != WaitEnd::kEscPressed) return end;
  const uint64_t now = ClockMilliseconds();
  const uint64_t left = deadline > now ? std::min(kAnswerAfterEscMs, deadline - now) : 0;
  return WaitForDescriptor(descriptor, static_cast<int>(left)) == WaitEnd::kReady ? WaitEnd::kReady : end;
}

}  // namespace

namespace platform {

// ---- Process: system.h ------------------------------------------------------
const char* CommandLine() { return ProcessCommandLine(); }
// POSIX hands a process its standard descriptors as they are.
void TakeStartupHandles() {}

// ---- Text storage: the C library --------------------------------------------
void* AllocateTextStorage(uint32_t size) { return std::malloc(size); }
void ReleaseTextStorage(void* storage) { std::free(storage); }

// ---- The system's error value: errno; POSIX never prompts about a device ----
void ClearSystemError() { errno = 0; }
uint32_t SystemError() { return static_cast<uint32_t>(errno); }
uint32_t SuppressErrorPrompts() { return 0; }
void RestoreErrorPrompts(uint32_t) {}

// ---- Console: terminal/ and system.h -----------------------------------------
void PrepareConsole() { PrepareTerminal(); }
int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written) {
  return WriteOutputOnce(bytes, length, written);
}
bool PeekKeyEvent(KeyEvent* event) { return PeekKeyPress(event); }
void RemoveKeyEvent() { RemoveKeyPress(); }
void WaitForKeyOrSoundEnd(uint32_t timeout_ms) { WaitForKeyOrDescriptor(SoundEndDescriptor(), timeout_ms); }
uint64_t MonotonicMilliseconds() { return ClockMilliseconds(); }

// ---- Sound: sound/, waiting through the terminal for Esc ---------------------
uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  return ExecuteMediaCommand(command, reply, reply_capacity, WaitForDescriptorOrEsc);
}
bool DescribeMediaError(uint32_t code, char* buffer, uint32_t size) { return DescribeMediaCode(code, buffer, size); }
void SetWaveOutVolume(uint32_t volume_word) { SetSoundVolume(volume_word); }

// ---- File search: files/, waiting through the terminal for Esc ---------------
SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  return StartDirectorySearch(pattern, data, WaitForSearch);
}
bool FindNextEntry(SearchHandle search, FindData* data) { return NextDirectoryEntry(search, data); }
bool CloseSearch(SearchHandle search) { return EndDirectorySearch(search); }

}  // namespace platform
