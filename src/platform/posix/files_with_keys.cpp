// Where files and terminal meet: the directory search of the platform
// contract reads the directory on the files' worker while the terminal's
// wait watches the keys. Neither room calls the other.
#include <algorithm>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// An Esc typed before or during the search counts once the search has had
// this long after it to answer: one that answers by then goes on as if at
// once, and that Esc stops the first playback, as it always has.
constexpr uint64_t kAnswerAfterEscMs = 300;

WaitEnd WaitForSearch(int descriptor, int timeout_ms) {
  const uint64_t deadline = DeadlineAfter(timeout_ms);
  const WaitEnd end = WaitForDescriptorOrEsc(descriptor, timeout_ms);
  if (end != WaitEnd::kEscPressed) return end;
  const uint64_t now = platform::MonotonicMilliseconds();
  const uint64_t left = std::min(kAnswerAfterEscMs, deadline > now ? deadline - now : 0);
  return WaitForDescriptor(descriptor, static_cast<int>(left)) == WaitEnd::kReady ? WaitEnd::kReady : end;
}

}  // namespace

namespace platform {

SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  return StartDirectorySearch(pattern, data, WaitForSearch);
}

}  // namespace platform
