// Where sound and terminal meet: the two functions of the platform contract
// that need both. Each room does its own part and neither calls the other;
// here the terminal's wait is handed to the sound's commands, and the
// sound's end to the terminal's wait.
#include "platform/platform.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/terminal/terminal.h"

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  return ExecuteMediaCommand(command, reply, reply_capacity, WaitForDescriptorOrEsc);
}

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) { WaitForKeyOrDescriptor(SoundEndDescriptor(), timeout_ms); }

}  // namespace platform
