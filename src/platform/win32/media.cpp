// Sound on Windows: the command strings go to the media control interface
// as they are.
#include <windows.h>
#include <mmsystem.h>

#include "platform/platform.h"

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  return mciSendStringA(command, reply, reply_capacity, nullptr);
}

bool DescribeMediaError(uint32_t code, char* buffer, uint32_t size) {
  return mciGetErrorStringA(code, buffer, size) != FALSE;
}

}  // namespace platform
