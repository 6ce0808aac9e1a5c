#include "app/player.h"

#include <cstddef>

#include "app/version.h"
#include "audio/playback.h"
#include "audio/volume.h"
#include "console/console.h"
#include "platform/platform.h"
#include "text/file_lookup.h"
#include "text/numbers.h"
#include "text/text.h"

namespace {

constexpr int32_t kNameCapacity = 127;
constexpr int32_t kWholeRest = 2147483647;
constexpr int32_t kDoubleQuote = 34;
// After a failed open in an endless run, how long to wait for Esc before
// trying again, so that the user has a way out and the CPU a rest. A run
// that plays nothing rests as long between repetitions.
constexpr uint32_t kRetryWaitMs = 1000;
// A repetition that ends this soon after it began has played nothing anyone
// could hear, or the output swallows sound without playing it. The first
// repetitions of a short sound end as soon, while the output queues them
// ahead of what it plays (a tenth of a second on Linux): only this many in a
// row say that the run plays nothing.
constexpr uint64_t kShortestPlayMs = 5;
constexpr int kQuickPlaysBeforeRest = 32;

const char* const kHeader[] = {
    "PELDO.EXE v" PELDO_VERSION " - " PELDO_DESCRIPTION,
    PELDO_MAKER_LINE,
    "",
};

const char* const kUsage[] = {
    "Usage:  PELDO filename[.wav] [/Q] [/Rn] [/Vn]",
    "",
    "  /Q    Quiet mode - no header is displayed",
    "  /Rn   Repeat 'n' times",
    "  /Vn   Volume level",
    "",
    "  If no file extension is specified, .WAV is assumed.",
    "",
    "PELDO.EXE will continue playing the audio file until it finishes,",
    "or the user presses the Esc key.",
};

void PrintLine(const Text& text) {
  WriteText(text);
  WriteLineEnd();
}

template <std::size_t Count>
void PrintLines(const char* const (&lines)[Count]) {
  for (const char* line : lines) PrintLine(Text::FromLiteral(line));
}

// The number right after an option's two characters, or `absent` when the
// option is not in the option text.
int32_t OptionValue(const Text& options, const char* option, int32_t absent) {
  const int32_t position = FindText(1, options, Text::FromLiteral(option));
  if (position == 0) return absent;
  return RoundToInt32(ParseNumber(MidText(options, position + 2, kWholeRest)));
}

Text WithoutBlanks(const Text& text) { return TrimTrailing(TrimLeading(text)); }

}  // namespace

void PrintHelp() {
  PrintLines(kHeader);
  PrintLines(kUsage);
}

void PrintVersion() {
  PrintLine(Text::FromLiteral(kHeader[0]));
  PrintLine(Text::FromLiteral(kHeader[1]));
}

int32_t RunPlayer() {
  char name_buffer[kNameCapacity + 1] = {};
  const Text quote = CharText(kDoubleQuote);

  const Text options = UpperCaseText(CommandTail());
  Text name = TextBefore(1, CommandTail(), Text::FromLiteral("/"));
  name = TrimLeading(TrimTrailing(name, quote), quote);
  StoreBufferText(name, name_buffer, kNameCapacity);

  const bool quiet = FindText(1, options, Text::FromLiteral("/Q")) != 0;
  if (!quiet) PrintLines(kHeader);
  int32_t repeat_count = OptionValue(options, "/R", 1);
  const int32_t volume_level = OptionValue(options, "/V", -1);

  if (TextLength(ReadBufferText(name_buffer)) == 0) {
    PrintLines(kUsage);
    return 1;
  }
  // The volume is set before the lookup, so it holds even for a missing file.
  if (volume_level > -1) SetOutputVolume(volume_level);

  name = ReadBufferText(name_buffer);
  if (FindText(1, name, Text::FromLiteral(".")) == 0) {
    StoreBufferText(JoinText(WithoutBlanks(name), Text::FromLiteral(".WAV")), name_buffer, kNameCapacity);
  }
  name = ReadBufferText(name_buffer);
  if (TextLength(FindFileName(name, 0)) == 0) {
    PrintLine(JoinText(Text::FromLiteral("File not found: "), ReadBufferText(name_buffer)));
    return 1;
  }
  StoreBufferText(JoinText(JoinText(quote, WithoutBlanks(name)), quote), name_buffer, kNameCapacity);

  if (!quiet) {
    WriteText(JoinText(Text::FromLiteral("Playing "), ReadBufferText(name_buffer)));
    if (repeat_count > 1) {
      WriteText(JoinText(NumberToText(repeat_count), Text::FromLiteral(" times")));
    } else if (repeat_count == -1) {
      WriteText(Text::FromLiteral(" until ESC is pressed"));
    }
  }

  // Only an endless run rests: a counted one is bounded by its count.
  int quick_plays = 0;
  do {
    if (repeat_count > 0) --repeat_count;
    const uint64_t started = platform::MonotonicMilliseconds();
    const int32_t result = PlayAudioFile(ReadBufferText(name_buffer));
    if (result == kStoppedByEsc) break;
    const bool quick = result == kPlayedToEnd && platform::MonotonicMilliseconds() - started < kShortestPlayMs;
    quick_plays = quick ? quick_plays + 1 : 0;
    const bool rest = result == kOpenFailed || quick_plays >= kQuickPlaysBeforeRest;
    if (repeat_count < 0 && rest && WaitForEsc(kRetryWaitMs)) break;
  } while (repeat_count != 0);

  if (!quiet) {
    WriteText(Text());
    WriteLineEnd();
  }
  return 0;
}
