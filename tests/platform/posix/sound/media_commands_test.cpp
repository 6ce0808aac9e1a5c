#include "platform/posix/sound/sound.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
  const char* why;
  const char* command;
  bool understood;
  MediaVerb verb;
  const char* name;
};

TEST(MediaCommandTest, TakesTheNameFromBetweenTheOuterQuotes) {
  const ParseCase cases[] = {
      {"open", "open \"ding.wav\"", true, MediaVerb::kOpen, "ding.wav"},
      {"play", "play \"ding.wav\"", true, MediaVerb::kPlay, "ding.wav"},
      {"status ends in mode", "status \"ding.wav\" mode", true, MediaVerb::kStatusMode, "ding.wav"},
      {"close", "close \"ding.wav\"", true, MediaVerb::kClose, "ding.wav"},
      {"blanks and a path", "open \"my sounds/a b.wav\"", true, MediaVerb::kOpen,
       "my sounds/a b.wav"},
      {"a quote inside the name", "open \"a\"b.wav\"", true, MediaVerb::kOpen, "a\"b.wav"},
      {"a quote and blank inside, as in a name ending in \" mode\"", "status \"x\" mode\" mode",
       true, MediaVerb::kStatusMode, "x\" mode"},
      {"two quotes alone make an empty name", "close \"\"", true, MediaVerb::kClose, ""},
      {"no quotes", "open ding.wav", false, MediaVerb::kOpen, ""},
      {"a single quote is not a quoted name", "open \"", false, MediaVerb::kOpen, ""},
      {"quote missing at the end", "play \"ding.wav", false, MediaVerb::kOpen, ""},
      {"a blank after the closing quote", "close \"ding.wav\" ", false, MediaVerb::kOpen, ""},
      {"status without mode", "status \"ding.wav\"", false, MediaVerb::kOpen, ""},
      {"status asking for something else", "status \"ding.wav\" length", false, MediaVerb::kOpen,
       ""},
      {"two blanks after the verb", "open  \"ding.wav\"", false, MediaVerb::kOpen, ""},
      {"a verb in capitals", "OPEN \"ding.wav\"", false, MediaVerb::kOpen, ""},
      {"an unknown verb", "stop \"ding.wav\"", false, MediaVerb::kOpen, ""},
      {"a verb alone", "open", false, MediaVerb::kOpen, ""},
      {"nothing", "", false, MediaVerb::kOpen, ""},
  };
  for (const ParseCase& row : cases) {
    MediaCommand parsed;
    EXPECT_EQ(ParseMediaCommand(row.command, &parsed), row.understood) << row.why;
    if (!row.understood) continue;
    EXPECT_EQ(parsed.verb, row.verb) << row.why;
    EXPECT_EQ(std::string(parsed.name), row.name) << row.why;
  }
  MediaCommand parsed;
  EXPECT_FALSE(ParseMediaCommand(nullptr, &parsed));
  EXPECT_EQ(StreamName("samples\\my sounds\\ding.WAV"), "samples/my sounds/ding.WAV") << "the mixer shows it as typed";
}

}  // namespace
