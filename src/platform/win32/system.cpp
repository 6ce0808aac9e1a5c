// Process-wide services on Windows: the command line, text storage, the
// last-error value, the error mode and the clock.
#include <windows.h>
#include <oleauto.h>

#include "platform/platform.h"

namespace platform {

const char* CommandLine() { return GetCommandLineA(); }

// Text values live in OLE Automation strings: a byte-counted allocation
// whose contents the caller fills in. No 32-bit process can hold 2 GB, and
// some allocators wrap round near 4 GB and hand out a tiny block instead.
void* AllocateTextStorage(uint32_t size) {
  constexpr uint32_t kLargest = 0x7FFFFFFF;
  if (size > kLargest) return nullptr;
  return SysAllocStringByteLen(nullptr, size);
}
void ReleaseTextStorage(void* storage) { SysFreeString(static_cast<BSTR>(storage)); }

void ClearSystemError() { SetLastError(0); }
uint32_t SystemError() { return GetLastError(); }

// A drive without a medium fails the call instead of asking the user.
uint32_t SuppressErrorPrompts() { return SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX); }
void RestoreErrorPrompts(uint32_t previous) { SetErrorMode(previous); }

// GetTickCount64 came with Vista. GetTickCount, on every Windows, wraps round
// after 49.7 days, so its wraps are counted: a reading smaller than the one
// before is one more wrap, as no wait of the program lasts 49.7 days.
uint64_t MonotonicMilliseconds() {
  static uint32_t last = 0;
  static uint64_t wraps = 0;
  const uint32_t now = GetTickCount();
  if (now < last) wraps += uint64_t{1} << 32;
  last = now;
  return wraps + now;
}

}  // namespace platform
