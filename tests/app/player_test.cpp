// The player against the fake platform: what it prints, what it sends to
// the sound device and what it returns, for whole command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/player.h"
#include "expected_texts.h"
#include "fake_platform.h"
#include "main/process.h"
#include "text/text.h"

namespace {

// Runs the whole process on `command_line` with the given files present.
int32_t RunLine(const std::string& command_line, const std::vector<std::string>& files = {}) {
  Fake().command_line = command_line;
  for (const std::string& file : files) Fake().searches[file] = {Entry(file)};
  return RunProcess();
}

int CountOf(const std::string& prefix) {
  int count = 0;
  for (const std::string& command : Fake().media_commands) count += command.rfind(prefix, 0) == 0;
  return count;
}

class PlayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
};

struct OutputCase {
  const char* name;
  const char* command_line;
  std::vector<std::string> files;
  std::string output;
  int32_t result;
  int plays;
};

class PlayerOutputTest : public PlayerTest, public ::testing::WithParamInterface<OutputCase> {};

TEST_P(PlayerOutputTest, PrintsAndPlays) {
  const OutputCase& c = GetParam();
  EXPECT_EQ(RunLine(c.command_line, c.files), c.result);
  EXPECT_EQ(Fake().output, c.output);
  EXPECT_EQ(CountOf("open "), c.plays);
  EXPECT_EQ(CountOf("close "), c.plays);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, PlayerOutputTest,
    ::testing::Values(
        OutputCase{"NoArgumentGivesHeaderAndUsage", "PELDO.EXE", {}, kHeader + kUsage, 1, 0},
        OutputCase{"QuietAloneGivesUsageWithoutHeader", "PELDO.EXE /Q", {}, kUsage, 1, 0},
        OutputCase{"OnlyQuotesIsNoName", "PELDO.EXE \"\"", {}, kHeader + kUsage, 1, 0},
        OutputCase{"OptionsOnlyIsNoName", "PELDO.EXE /r3 /v50", {}, kHeader + kUsage, 1, 0},
        OutputCase{"MissingFileGetsExtensionInMessage", "PELDO.EXE nosuch", {},
                   kHeader + "File not found: nosuch.WAV\r\n", 1, 0},
        OutputCase{"MissingFileMessageIgnoresQuiet", "PELDO.EXE nosuch /q", {},
                   "File not found: nosuch.WAV\r\n", 1, 0},
        OutputCase{"OnePlay", "PELDO.EXE ding", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\"\r\n", 0, 1},
        OutputCase{"LowerCaseRepeatCount", "PELDO.EXE ding /r3", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\" 3 times\r\n", 0, 3},
        OutputCase{"QuietPrintsNothing", "PELDO.EXE ding /q /r2", {"ding.WAV"}, "", 0, 2},
        OutputCase{"QuietWordStillQuiet", "PELDO.EXE ding /QUIET", {"ding.WAV"}, "", 0, 1},
        OutputCase{"BlankBeforeOptionStaysForLookupOnly", "PELDO.EXE ding.wav /q", {"ding.wav "}, "", 0, 1},
        OutputCase{"QuotedNameWithBlank", "PELDO.EXE \"my song.wav\"", {"my song.wav"},
                   kHeader + "Playing \"my song.wav\"\r\n", 0, 1},
        OutputCase{"QuoteBeforeBlankStays", "PELDO.EXE \"my song.wav\" /q", {"my song.wav"},
                   "File not found: my song.wav\" \r\n", 1, 0},
        OutputCase{"DotInDirectoryStopsExtension", "PELDO.EXE C:\\MY.DIR\\DING", {"C:\\MY.DIR\\DING"},
                   kHeader + "Playing \"C:\\MY.DIR\\DING\"\r\n", 0, 1},
        OutputCase{"RepeatWithoutNumberPlaysOnce", "PELDO.EXE ding /R", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\"\r\n", 0, 1},
        OutputCase{"RepeatNotANumberPlaysOnce", "PELDO.EXE ding /RX", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\"\r\n", 0, 1},
        OutputCase{"RepeatZeroPlaysOnce", "PELDO.EXE ding /r0", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\"\r\n", 0, 1},
        OutputCase{"RepeatRoundsTiesToEven", "PELDO.EXE ding /r2.5", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\" 2 times\r\n", 0, 2},
        OutputCase{"FirstRepeatOptionCounts", "PELDO.EXE ding /r2 /r5", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\" 2 times\r\n", 0, 2},
        OutputCase{"BlanksAroundNameAreDropped", "PELDO.EXE   ding   /r2", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\" 2 times\r\n", 0, 2},
        OutputCase{"RadixRepeatCount", "PELDO.EXE ding /r&H3", {"ding.WAV"},
                   kHeader + "Playing \"ding.WAV\" 3 times\r\n", 0, 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PlayerTest, SendsOpenPlayStatusCloseWithQuotedName) {
  Fake().playing_polls = 2;
  EXPECT_EQ(RunLine("PELDO.EXE ding", {"ding.WAV"}), 0);
  const std::vector<std::string> expected = {
      "open \"ding.WAV\"",        "play \"ding.WAV\"",
      "status \"ding.WAV\" mode", "status \"ding.WAV\" mode",
      "status \"ding.WAV\" mode", "close \"ding.WAV\"",
  };
  EXPECT_EQ(Fake().media_commands, expected);
}

TEST_F(PlayerTest, LongNameLosesClosingQuoteInBuffer) {
  const std::string name(122, 'n');  // 122 + ".WAV" = 126, quoted 128: cut to 127
  EXPECT_EQ(RunLine("PELDO.EXE " + name + " /q", {name + ".WAV"}), 0);
  ASSERT_FALSE(Fake().media_commands.empty());
  EXPECT_EQ(Fake().media_commands[0], "open \"" + name + ".WAV");
}

TEST_F(PlayerTest, NameFieldIsCutAt127Characters) {
  const std::string name(130, 'a');
  EXPECT_EQ(RunLine("PELDO.EXE " + name + ".wav"), 1);
  EXPECT_EQ(Fake().search_patterns.at(0), std::string(127, 'a'));
}

TEST_F(PlayerTest, EndlessRunAnnouncedAndEndedByEsc) {
  Fake().on_status = [](int queries) {
    if (queries == 7) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(RunLine("PELDO.EXE ding /r-1", {"ding.WAV"}), 0);
  EXPECT_EQ(Fake().output, kHeader + "Playing \"ding.WAV\" until ESC is pressed\r\n");
  EXPECT_EQ(CountOf("open "), 3);  // three status queries per play with two "playing" answers
  EXPECT_EQ(CountOf("close "), 3);
}

TEST_F(PlayerTest, OtherNegativeCountRepeatsSilently) {
  Fake().on_status = [](int queries) {
    if (queries == 4) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(RunLine("PELDO.EXE ding /r-5", {"ding.WAV"}), 0);
  EXPECT_EQ(Fake().output, kHeader + "Playing \"ding.WAV\"\r\n");
  EXPECT_EQ(CountOf("open "), 2);
}

TEST_F(PlayerTest, EscDuringSecondOfThreePlaysEndsLoop) {
  Fake().on_status = [](int queries) {
    if (queries == 4) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(RunLine("PELDO.EXE ding /r3", {"ding.WAV"}), 0);
  EXPECT_EQ(CountOf("open "), 2);
  EXPECT_EQ(Fake().output, kHeader + "Playing \"ding.WAV\" 3 times\r\n");
}

TEST_F(PlayerTest, DeviceErrorOncePerRepetitionAndLoopGoesOn) {
  Fake().open_errors["\"x.wav\""] = 263;
  EXPECT_EQ(RunLine("PELDO.EXE x.wav /r2", {"x.wav "}), 0);
  const std::string error = "  >> Error:The device is not ready. (263) <<\r\n";
  EXPECT_EQ(Fake().output, kHeader + "Playing \"x.wav\" 2 times" + error + error + "\r\n");
  EXPECT_EQ(CountOf("close "), 0);
}

TEST_F(PlayerTest, ErrorWithoutDescriptionLeavesItEmpty) {
  Fake().open_errors["\"x.wav\""] = 7;
  Fake().describe_errors = false;
  EXPECT_EQ(RunLine("PELDO.EXE x.wav /q"), 1);  // not found: nothing opened
  Fake().searches["x.wav "] = {Entry("x.wav")};
  Fake().output.clear();
  EXPECT_EQ(RunLine("PELDO.EXE x.wav /q"), 0);
  EXPECT_EQ(Fake().output, "  >> Error: (7) <<\r\n");
}

TEST_F(PlayerTest, EndlessRunWithFailingOpenWaitsForEscBetweenTries) {
  Fake().open_errors["\"x.wav\""] = 263;
  Fake().describe_errors = false;
  // Esc comes once the second one-second wait has run out.
  Fake().on_wait = [] {
    if (Fake().clock_ms == 2000) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(RunLine("PELDO.EXE x.wav /r-1 /q", {"x.wav "}), 0);
  EXPECT_EQ(Fake().output, "  >> Error: (263) <<\r\n  >> Error: (263) <<\r\n");
  EXPECT_EQ(CountOf("open "), 2);
  EXPECT_EQ(Fake().waits, (std::vector<uint32_t>{1000, 1000}));
}

// A sound that plays nothing: a counted run is over at once, an endless one
// rests between repetitions once 32 in a row have played nothing, counted
// again from a repetition that played.
TEST_F(PlayerTest, OnlyAnEndlessRunThatPlaysNothingRests) {
  Fake().playing_polls = 0;
  EXPECT_EQ(RunLine("PELDO.EXE ding /r100 /q", {"ding.WAV"}), 0);
  EXPECT_EQ(CountOf("open "), 100);
  EXPECT_TRUE(Fake().waits.empty());
  Fake().media_commands.clear();
  Fake().on_wait = [] {
    if (Fake().clock_ms == 2000) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(RunLine("PELDO.EXE ding /r-1 /q", {"ding.WAV"}), 0);
  EXPECT_EQ(CountOf("open "), 33);
  EXPECT_EQ(Fake().waits, (std::vector<uint32_t>{1000, 1000}));

  ResetFake();
  Fake().playing_polls = 0;
  Fake().on_status = [](int queries) {
    if (queries == 20) Fake().clock_ms += 5;  // the 20th repetition lasts 5 ms: it played
  };
  Fake().on_wait = [] { Fake().key_events.push_back(EscPress()); };
  EXPECT_EQ(RunLine("PELDO.EXE ding /r-1 /q", {"ding.WAV"}), 0);
  EXPECT_EQ(CountOf("open "), 20 + 32);
}

TEST_F(PlayerTest, VolumeSetBeforeLookupEvenWhenFileIsMissing) {
  EXPECT_EQ(RunLine("PELDO.EXE nosuch /v50"), 1);
  EXPECT_EQ(Fake().volume_words, std::vector<uint32_t>{0x7FFF7FFFu});
}

TEST_F(PlayerTest, VolumeLevels) {
  struct Case {
    const char* tail;
    std::vector<uint32_t> words;
  };
  const Case cases[] = {
      {"ding /v0", {0u}},
      {"ding /V100", {0xFFFFFFFFu}},
      {"ding /v150", {0x7FFE7FFEu}},
      {"ding /v-1", {}},
      {"ding", {}},
      {"/v50", {}},  // usage: no name, volume left alone
  };
  for (const Case& c : cases) {
    ResetFake();
    RunLine(std::string("PELDO.EXE ") + c.tail, {"ding.WAV"});
    EXPECT_EQ(Fake().volume_words, c.words) << c.tail;
  }
}

TEST_F(PlayerTest, FailedWritesChangeNothingElse) {
  Fake().fail_writes = true;
  EXPECT_EQ(RunLine("PELDO.EXE ding /r2", {"ding.WAV"}), 0);
  EXPECT_EQ(CountOf("open "), 2);
  EXPECT_EQ(RunLine("PELDO.EXE"), 1);
  EXPECT_EQ(Fake().output, "");
}

TEST_F(PlayerTest, EachPieceIsOneWrite) {
  EXPECT_EQ(RunLine("PELDO.EXE ding /r2", {"ding.WAV"}), 0);
  const std::vector<std::string> expected = {
      "PELDO.EXE v2.65 - Command line audio file player", "\r\n",
      "Copyright (c) 2026 The PELDO developers",          "\r\n",
      "\r\n",
      "Playing \"ding.WAV\"",                             " 2 times",
      "\r\n",
  };
  EXPECT_EQ(Fake().writes, expected);
  EXPECT_EQ(Fake().prompts_suppressed, 0);
}

}  // namespace
