// Feeds arbitrary command tails through the whole player on the fake
// platform. Whatever the bytes, the run must end with the usage text, the
// missing-file line or a playback, with exit code 0 or 1.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/player.h"
#include "fake_platform.h"
#include "main/process.h"
#include "text/numbers.h"
#include "text/text.h"

namespace {

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  ResetFake();
  // The first byte picks what the file system and the device answer.
  const uint8_t mode = data[0];
  FakePlatform& fake = Fake();
  fake.every_pattern_matches = (mode & 1) != 0;
  fake.playing_polls = mode >> 4;
  // Endless runs end when the "user" presses Esc after a while.
  fake.on_status = [](int queries) {
    if (queries > 40) Fake().key_events.push_back(EscPress());
  };
  fake.on_wait = [] {
    if (Fake().waits.size() > 40) Fake().key_events.push_back(EscPress());
  };
  fake.command_line = "PELDO.EXE " + std::string(reinterpret_cast<const char*>(data + 1), size - 1);
  fake.command_line = std::string(fake.command_line.c_str());  // the system's line ends at its first zero byte

  // A device that rejects the file can only be left by Esc in an endless
  // run; a long finite run would just print its error lines for a long time.
  SetCommandTailStart(SkipProgramName(fake.command_line.c_str()));
  const Text options = UpperCaseText(CommandTail());
  const int32_t at = FindText(1, options, Text::FromLiteral("/R"));
  const int32_t repeats = at == 0 ? 1 : RoundToInt32(ParseNumber(MidText(options, at + 2, 2147483647)));
  if ((mode & 2) != 0 && repeats <= 50) fake.open_errors["\"found.wav\""] = 263;

  const int32_t result = RunProcess();
  Check(result == 0 || result == 1);
  if (result == 1) {
    Check(EndsWith(fake.output, "or the user presses the Esc key.\r\n") ||
          fake.output.find("File not found: ") != std::string::npos);
  } else {
    Check(!fake.media_commands.empty());
    Check(fake.media_commands.front().rfind("open \"", 0) == 0);
  }
  Check(fake.prompts_suppressed == 0);
  return 0;
}
