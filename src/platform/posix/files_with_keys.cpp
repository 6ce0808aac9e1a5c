// Where files and terminal meet: the directory search of the platform
// contract reads the directory on the files' worker while the terminal's
// wait watches the keys. Neither room calls the other.
#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// A search that answers within this time is never cut short by an Esc typed
// ahead: that Esc stops the first playback, as it always has.
constexpr int kAnswerAtOnceMs = 50;

WaitEnd WaitForSearch(int descriptor, int timeout_ms) {
  if (WaitForDescriptor(descriptor, kAnswerAtOnceMs) == WaitEnd::kReady) return WaitEnd::kReady;
  return WaitForDescriptorOrEsc(descriptor, timeout_ms - kAnswerAtOnceMs);
}

}  // namespace

namespace platform {

SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  return StartDirectorySearch(pattern, data, WaitForSearch);
}

}  // namespace platform
