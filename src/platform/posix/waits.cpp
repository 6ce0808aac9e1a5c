// Where sound and terminal meet: the two waits of the platform contract that
// watch both. Each room does its own part and neither calls the other; here
// the terminal's wait is handed to the sound's open, and the sound's end to
// the terminal's wait.
#include "platform/platform.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/terminal/terminal.h"
#include "platform/posix/waits.h"

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  return CarryMediaCommand(command, reply, reply_capacity, WaitForDescriptorOrEsc);
}

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) { WaitForKeyOrDescriptor(SoundEndDescriptor(), timeout_ms); }

}  // namespace platform
