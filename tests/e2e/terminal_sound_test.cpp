// Keys at a terminal while sound really plays, checked in a recording of the
// private server's sink: Esc between repetitions, keys that must not stop
// the sound, signals, and a run with no terminal at all.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <memory>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

class TerminalSoundTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    recorder_ = std::make_unique<MonitorRecorder>(sink_->Name());
    ASSERT_TRUE(recorder_->Started());
  }

  std::unique_ptr<MonitorRecorder> recorder_;
};

TEST_F(TerminalSoundTest, EscDuringSecondOfThreePlays) {
  const double start = MonotonicSeconds();
  Process player(AtTerminal(dir_, {"tone", "/r3"}));
  ASSERT_TRUE(player.WaitForOutput("3 times", 5000)) << player.Out();
  ASSERT_TRUE(recorder_->WaitForSound(1500, 5000));  // half way through the second play
  player.Type("\x1b");
  ASSERT_TRUE(player.WaitForExit(3000));
  const double end = MonotonicSeconds();
  ASSERT_TRUE(recorder_->WaitUntilRecorded(end + 0.3, 5000));
  recorder_->Stop();

  EXPECT_EQ(player.ExitCode(), 0);
  EXPECT_EQ(player.Err(), "");
  // The progress line is ended: the terminal shows the line end after it.
  EXPECT_NE(player.Out().find("Playing \"tone.WAV\" 3 times\r"), std::string::npos) << player.Out();
  EXPECT_EQ(player.Out().back(), '\n');
  const Heard heard = recorder_->Hear(start - 0.05, end + 0.3);
  ASSERT_TRUE(heard.any);
  // Two plays started, the second cut short; the third never came.
  EXPECT_GT(heard.span_ms, 1100.0);
  EXPECT_LT(heard.span_ms, 1950.0);
  EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
}

TEST_F(TerminalSoundTest, OtherKeysAndRedirectedEscapesLeaveTheSoundWhole) {
  const std::string escapes = dir_ / "escapes";
  std::ofstream(escapes) << std::string(1024, '\x1b');
  ProcessOptions redirected = AtTerminal(dir_, {"tone", "/q"});
  redirected.stdin_file = escapes;
  const struct {
    const char* why;
    ProcessOptions options;
    std::string typed;
  } cases[] = {
      {"letters, arrows, F1 and Alt+x are consumed", AtTerminal(dir_, {"tone", "/q"}), "ab\x1b[A\x1bOP\x1bx"},
      {"standard input full of Esc bytes is never read", redirected, ""},
  };
  std::vector<std::pair<double, double>> windows;
  for (const auto& c : cases) {
    const double start = MonotonicSeconds();
    Process player(c.options);
    ASSERT_TRUE(player.Started());
    ASSERT_TRUE(recorder_->WaitForSound(0, 5000)) << c.why;
    player.Type(c.typed);
    ASSERT_TRUE(player.WaitForExit(5000)) << c.why;
    windows.emplace_back(start, MonotonicSeconds());
    EXPECT_EQ(player.ExitCode(), 0) << c.why;
    // Silence between the windows.
    ASSERT_TRUE(recorder_->WaitUntilRecorded(windows.back().second + 0.1, 5000));
  }
  recorder_->Stop();
  for (size_t i = 0; i < windows.size(); ++i) {
    const Heard heard = recorder_->Hear(windows[i].first - 0.05, windows[i].second + 0.05);
    EXPECT_NEAR(heard.span_ms, 1000.0, 10.0) << cases[i].why;
  }
}

TEST_F(TerminalSoundTest, SignalsDuringPlaybackGiveTheTerminalBack) {
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    Process player(AtTerminal(dir_, {"tone", "/r-1"}));
    ASSERT_TRUE(player.WaitForOutput("until ESC is pressed", 5000));
    ASSERT_TRUE(recorder_->WaitForSound(0, 5000)) << signal_number;
    kill(player.Pid(), signal_number);
    ASSERT_TRUE(player.WaitForExit(3000)) << signal_number;
    EXPECT_EQ(player.Signal(), signal_number);
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << signal_number;
  }
}

// "peldo long /r-1 &", then "fg" from bash, which sends no SIGCONT to a
// running job. Nothing else wakes the player for a second while the sound
// plays; the keys must be taken long before, and Esc never echoed.
TEST_F(TerminalSoundTest, ForegroundWithoutSigcontTakesTheKeys) {
  ASSERT_TRUE(MakeTone(dir_ / "long.wav", "-b 16", 3.0));
  ProcessOptions options = AtTerminal(dir_, {"long", "/r-1"});
  options.job_control = options.in_background = true;
  Process player(options);
  ASSERT_TRUE(recorder_->WaitForSound(0, 5000));
  player.Foreground(false);
  const double moved = MonotonicSeconds();
  while ((player.Now().c_lflag & ICANON) != 0 && MonotonicSeconds() - moved < 3) usleep(5000);
  EXPECT_LT(MonotonicSeconds() - moved, 0.5);
  player.Type("\x1b");
  ASSERT_TRUE(player.WaitForExit(3000));
  EXPECT_EQ(player.Out().find("^["), std::string::npos) << "Esc echoed";
  EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
}

TEST_F(TerminalSoundTest, WithoutAnyTerminalTheSoundPlaysToItsEnd) {
  ProcessOptions options;
  options.args = {dir_ / "tone.wav", "/q"};
  options.stdout_mode = Stdout::kFile;
  options.stdout_file = "/dev/null";
  options.timeout_ms = 5000;
  const double start = MonotonicSeconds();
  const ProcessResult run = RunProcess(options);
  const double end = MonotonicSeconds();
  ASSERT_TRUE(recorder_->WaitUntilRecorded(end + 0.05, 5000));
  recorder_->Stop();
  EXPECT_TRUE(run.ExitedWith(0)) << Describe(run);
  EXPECT_NEAR(recorder_->Hear(start - 0.05, end + 0.05).span_ms, 1000.0, 10.0);
}

}  // namespace
}  // namespace e2e
