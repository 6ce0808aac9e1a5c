// Process-wide services on POSIX: the command line, text storage, errno and
// the clock.
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/platform.h"
#include "platform/posix/process_state.h"

namespace {
const char* command_line = "";
}  // namespace

void SetProcessCommandLine(const char* line) { command_line = line; }

namespace platform {

const char* CommandLine() { return command_line; }

// POSIX hands a process its standard descriptors as they are.
void TakeStartupHandles() {}

void* AllocateTextStorage(uint32_t size) { return std::malloc(size); }
void ReleaseTextStorage(void* storage) { std::free(storage); }

void ClearSystemError() { errno = 0; }
uint32_t SystemError() { return static_cast<uint32_t>(errno); }

// POSIX never prompts the user about a failing device.
uint32_t SuppressErrorPrompts() { return 0; }
void RestoreErrorPrompts(uint32_t) {}

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

}  // namespace platform
