// Placeholder media layer: no sound output yet.
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/sound_end.h"

namespace {
constexpr uint32_t kNoSoundOutput = 300;
}

int SoundEndDescriptor() { return -1; }

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  if (reply != nullptr && reply_capacity > 0) reply[0] = '\0';
  if (command != nullptr && std::strncmp(command, "open ", 5) == 0) return kNoSoundOutput;
  return 0;
}

bool DescribeMediaError(uint32_t code, char* buffer, uint32_t size) {
  if (code != kNoSoundOutput || buffer == nullptr || size == 0) return false;
  std::strncpy(buffer, "No sound output is available.", size - 1);
  buffer[size - 1] = '\0';
  return true;
}

}  // namespace platform
