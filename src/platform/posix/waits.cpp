// The one bounded wait, and where sound and terminal meet: the two waits of
// the platform contract that watch both. Each room does its own part and
// neither calls the other; here the terminal's wait is handed to the sound's
// commands, and the sound's end to the terminal's wait.
#include "platform/posix/waits.h"

#include <cerrno>

#include "platform/platform.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/terminal/terminal.h"

uint64_t DeadlineAfter(int timeout_ms) {
  return platform::MonotonicMilliseconds() + static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0);
}

int PollUntil(pollfd* watched, nfds_t count, uint64_t deadline) {
  for (;;) {
    const uint64_t now = platform::MonotonicMilliseconds();
    const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    const int ready = poll(watched, count, left);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

WaitEnd WaitForDescriptor(int descriptor, int timeout_ms) {
  pollfd watched = {descriptor, POLLIN, 0};
  return PollUntil(&watched, 1, DeadlineAfter(timeout_ms)) > 0 ? WaitEnd::kReady : WaitEnd::kTimedOut;
}

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  return ExecuteMediaCommand(command, reply, reply_capacity, WaitForDescriptorOrEsc);
}

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) { WaitForKeyOrDescriptor(SoundEndDescriptor(), timeout_ms); }

}  // namespace platform
