// One playback against the fake device: the command sequence, Esc, errors.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audio/playback.h"
#include "fake_platform.h"

namespace {

class PlaybackTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetFake(); }
  const Text name = Text::FromLiteral("\"ding.WAV\"");
};

TEST_F(PlaybackTest, PlaysToEndWaitingBetweenPolls) {
  Fake().playing_polls = 3;
  EXPECT_EQ(PlayAudioFile(name), kPlayedToEnd);
  EXPECT_EQ(Fake().status_queries, 4);
  // One wait after each "playing" answer, none after the last query; the
  // platform's wait ends with the sound, so the bound is a safety net only.
  EXPECT_EQ(Fake().waits, (std::vector<uint32_t>{1000, 1000, 1000}));
  EXPECT_EQ(Fake().media_commands.back(), "close \"ding.WAV\"");
}

TEST_F(PlaybackTest, EscStopsAndStillCloses) {
  Fake().playing_polls = 100;
  Fake().on_status = [](int queries) {
    if (queries == 2) Fake().key_events.push_back(EscPress());
  };
  EXPECT_EQ(PlayAudioFile(name), kStoppedByEsc);
  EXPECT_EQ(Fake().status_queries, 2);
  EXPECT_EQ(Fake().media_commands.back(), "close \"ding.WAV\"");
}

TEST_F(PlaybackTest, EscPendingAtTheEndStillWins) {
  Fake().playing_polls = 0;
  Fake().key_events.push_back(EscPress());
  EXPECT_EQ(PlayAudioFile(name), kStoppedByEsc);
}

TEST_F(PlaybackTest, OtherKeysAreConsumedWithoutEffect) {
  Fake().playing_polls = 5;
  Fake().key_events = {KeyPress('a', 0x1E), KeyPress(0, 0x48), KeyRelease(27, 1), KeyPress(3, 0x2E)};
  EXPECT_EQ(PlayAudioFile(name), kPlayedToEnd);
  EXPECT_TRUE(Fake().key_events.empty());
}

TEST_F(PlaybackTest, FailedOpenPrintsOneLineAndClosesNothing) {
  Fake().open_errors["\"ding.WAV\""] = 2147483649u;  // shown as a signed 32-bit number
  Fake().error_description = std::string(100, 'e');  // cut to the 64-byte buffer
  EXPECT_EQ(PlayAudioFile(name), kOpenFailed);
  EXPECT_EQ(Fake().output, "  >> Error:" + std::string(63, 'e') + " (-2147483647) <<\r\n");
  EXPECT_EQ(Fake().media_commands, std::vector<std::string>{"open \"ding.WAV\""});
}

TEST_F(PlaybackTest, WaitForEscHonoursItsTimeout) {
  EXPECT_FALSE(WaitForEsc(1000));
  EXPECT_EQ(Fake().clock_ms, 1000u);
  Fake().key_events = {KeyPress('x', 0x2D), EscPress()};
  EXPECT_TRUE(WaitForEsc(1000));
}

}  // namespace
