#include "console/console.h"

#include "platform/guarded_call.h"
#include "platform/platform.h"

namespace {

// One write; a failed or short write is not retried: the rest is lost.
void WriteBytes(const char* bytes, uint32_t length) {
  uint32_t written = 0;
  const auto call = GuardedSystemCall(platform::WriteStandardOutput, bytes, length, &written);
  const bool failed = call.failed || written < length;
  static_cast<void>(failed);  // nobody is told: output failures are silent
}

}  // namespace

void InitConsole() { platform::PrepareConsole(); }

void WriteText(const Text& text) {
  if (text.Length() == 0) return;
  WriteBytes(text.Bytes(), static_cast<uint32_t>(text.Length()));
}

void WriteLineEnd() { WriteBytes("\r\n", 2); }
