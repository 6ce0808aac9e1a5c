// Keys at a terminal while sound really plays, checked in a recording of the
// private server's sink: Esc between repetitions, keys that must not stop
// the sound, signals, and a run with no terminal at all.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fstream>
#include <memory>
#include <string>

#include "e2e/e2e_support.h"
#include "e2e/pty_process.h"
#include "e2e/sound_server.h"

namespace e2e {
namespace {

class TerminalSoundTest : public SoundTest {
 protected:
  void SetUp() override {
    SoundTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    ASSERT_TRUE(MakeTone(dir_ / "tone.wav", "-b 16"));
    // The recorder must be running well before the sound starts.
    recorder_ = std::make_unique<MonitorRecorder>();
    ASSERT_TRUE(recorder_->Started());
    SleepMs(2000);
  }

  PtyProcess::Options Options(std::vector<std::string> args) {
    PtyProcess::Options options;
    options.args = std::move(args);
    options.working_dir = dir_.path();
    return options;
  }

  std::unique_ptr<MonitorRecorder> recorder_;
};

TEST_F(TerminalSoundTest, EscDuringSecondOfThreePlays) {
  const double start = MonotonicSeconds();
  PtyProcess player(Options({"tone", "/r3"}));
  ASSERT_TRUE(player.WaitForOutput("3 times", 5000)) << player.Screen();
  SleepMs(1500);  // half way through the second play
  player.Type("\x1b");
  ASSERT_TRUE(player.WaitForExit(3000));
  const double end = MonotonicSeconds();
  recorder_->Stop();

  EXPECT_EQ(player.ExitCode(), 0);
  EXPECT_EQ(player.Errors(), "");
  // The progress line is ended: the terminal shows the line end after it.
  EXPECT_NE(player.Screen().find("Playing \"tone.WAV\" 3 times\r"), std::string::npos) << player.Screen();
  EXPECT_EQ(player.Screen().back(), '\n');
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
  PtyProcess::Options redirected = Options({"tone", "/q"});
  redirected.stdin_file = escapes;
  const struct {
    const char* why;
    PtyProcess::Options options;
    std::string typed;
  } cases[] = {
      {"letters, arrows, F1 and Alt+x are consumed", Options({"tone", "/q"}), "ab\x1b[A\x1bOP\x1bx"},
      {"standard input full of Esc bytes is never read", redirected, ""},
  };
  std::vector<std::pair<double, double>> windows;
  for (const auto& c : cases) {
    const double start = MonotonicSeconds();
    PtyProcess player(c.options);
    ASSERT_TRUE(player.Started());
    SleepMs(300);
    player.Type(c.typed);
    ASSERT_TRUE(player.WaitForExit(5000)) << c.why;
    windows.emplace_back(start, MonotonicSeconds());
    EXPECT_EQ(player.ExitCode(), 0) << c.why;
    SleepMs(200);
  }
  recorder_->Stop();
  for (size_t i = 0; i < windows.size(); ++i) {
    const Heard heard = recorder_->Hear(windows[i].first - 0.05, windows[i].second + 0.05);
    EXPECT_NEAR(heard.span_ms, 1000.0, 10.0) << cases[i].why;
  }
}

TEST_F(TerminalSoundTest, SignalsDuringPlaybackGiveTheTerminalBack) {
  for (const int signal_number : {SIGTERM, SIGHUP}) {
    PtyProcess player(Options({"tone", "/r-1"}));
    ASSERT_TRUE(player.WaitForOutput("until ESC is pressed", 5000));
    SleepMs(300);
    kill(player.Pid(), signal_number);
    ASSERT_TRUE(player.WaitForExit(3000)) << signal_number;
    EXPECT_EQ(player.Signal(), signal_number);
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << signal_number;
  }
}

TEST_F(TerminalSoundTest, WithoutAnyTerminalTheSoundPlaysToItsEnd) {
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);  // no controlling terminal
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  const std::string path = dir_ / "tone.wav";
  std::string binary = PELDO_BINARY, name = path, quiet = "/q";
  char* argv[] = {binary.data(), name.data(), quiet.data(), nullptr};
  const double start = MonotonicSeconds();
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, PELDO_BINARY, &actions, &attributes, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  int status = 0;
  for (int waited = 0; waitpid(pid, &status, WNOHANG) == 0; waited += 10) {
    if (waited > 5000) kill(pid, SIGKILL);
    SleepMs(10);
  }
  const double end = MonotonicSeconds();
  recorder_->Stop();
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NEAR(recorder_->Hear(start - 0.05, end + 0.05).span_ms, 1000.0, 10.0);
}

}  // namespace
}  // namespace e2e
