#include "audio/playback.h"

#include <cstring>

#include "console/console.h"
#include "console/key_events.h"
#include "platform/platform.h"
#include "text/numbers.h"

namespace {

constexpr uint32_t kReplyCapacity = 8;  // "playing" and its terminator
// How long one pass of the poll loop may sleep. A key or the end of the sound
// wakes it, so this bounds only how stale a missed wake-up can get; a
// platform that cannot see the end of a sound wakes sooner by itself.
constexpr uint32_t kPollWaitMs = 1000;

uint32_t Send(const Text& command, char* reply, uint32_t capacity) {
  return platform::SendMediaCommand(ToSystemText(command), reply, capacity);
}

void PrintDeviceError(uint32_t code, char* buffer) {
  std::memset(buffer, 0, 64);
  platform::DescribeMediaError(code, buffer, 64);
  WriteText(JoinText(JoinText(JoinText(Text::FromLiteral("  >> Error:"), ReadBufferText(buffer)),
                              JoinText(Text::FromLiteral(" ("),
                                       NumberToPlainText(static_cast<int32_t>(code)))),
                     Text::FromLiteral(") <<")));
  WriteLineEnd();
}

}  // namespace

int32_t PlayAudioFile(const Text& quoted_name) {
  char buffer[64] = {};
  const uint32_t opened = Send(JoinText(Text::FromLiteral("open "), quoted_name), nullptr, 0);
  if (opened != 0) {
    PrintDeviceError(opened, buffer);
    return kOpenFailed;
  }
  Send(JoinText(Text::FromLiteral("play "), quoted_name), nullptr, 0);

  const Text status = JoinText(JoinText(Text::FromLiteral("status "), quoted_name), Text::FromLiteral(" mode"));
  const Text playing = Text::FromLiteral("playing");
  int32_t result = kPlayedToEnd;
  for (;;) {
    Send(status, buffer, kReplyCapacity);
    if (EscPressed()) {
      result = kStoppedByEsc;
      break;
    }
    if (!TextEquals(ReadBufferText(buffer), playing)) break;
    platform::WaitForKeyOrSoundEnd(kPollWaitMs);
  }
  Send(JoinText(Text::FromLiteral("close "), quoted_name), nullptr, 0);
  return result;
}

bool WaitForEsc(uint32_t timeout_ms) {
  const uint64_t start = platform::MonotonicMilliseconds();
  for (;;) {
    if (EscPressed()) return true;
    const uint64_t waited = platform::MonotonicMilliseconds() - start;
    if (waited >= timeout_ms) return false;
    platform::WaitForKeyOrSoundEnd(static_cast<uint32_t>(timeout_ms - waited));
  }
}
