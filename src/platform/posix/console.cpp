// The terminal on POSIX: standard output and the keyboard.
#include <poll.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/sound_end.h"

namespace platform {

void PrepareConsole() {}

int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written) {
  const ssize_t count = write(STDOUT_FILENO, bytes, length);
  *written = count > 0 ? static_cast<uint32_t>(count) : 0;
  return count >= 0 ? 1 : 0;
}

bool PeekKeyEvent(KeyEvent*) { return false; }
void RemoveKeyEvent() {}

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) {
  pollfd watched[1] = {};
  nfds_t count = 0;
  if (const int sound_end = SoundEndDescriptor(); sound_end >= 0) {
    watched[count++] = {sound_end, POLLIN, 0};
  }
  poll(watched, count, static_cast<int>(timeout_ms));
}

}  // namespace platform
