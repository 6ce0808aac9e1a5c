// The keyboard at a real (pseudo) terminal: Esc, other keys, Ctrl+C, the
// terminal given back as it was found. A file the device rejects with an
// endless count keeps the player waiting for Esc without any sound server.
#include <gtest/gtest.h>

#include <signal.h>

#include <fstream>
#include <string>
#include <vector>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

// A key the program took for Esc would end it within milliseconds; this
// long it must run on.
constexpr int kStillRunningMs = 500;

class TerminalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    std::ofstream(dir_.path() + "/x.wav") << "this is not a sound\n";
  }

  ProcessOptions Endless() {
    return AtTerminal(dir_, {"x.wav", "/r-1"});
  }

  // Starts the endless run and waits for its first device error line.
  void StartEndless(Process& player) {
    ASSERT_TRUE(player.Started());
    ASSERT_TRUE(player.WaitForOutput(">> Error:", 5000)) << player.Out();
  }

  void ExpectEndedByEsc(Process& player) {
    player.Type("\x1b");
    ASSERT_TRUE(player.WaitForExit(3000)) << "Esc did not end the run";
    EXPECT_EQ(player.ExitCode(), 0);
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << "terminal not given back";
    EXPECT_EQ(player.Err(), "");
  }

  ScratchDir dir_;
};

TEST_F(TerminalTest, EscEndsAnEndlessRun) {
  Process player(Endless());
  StartEndless(player);
  EXPECT_NE(player.Out().find("Playing \"x.wav\" until ESC is pressed"), std::string::npos);
  ExpectEndedByEsc(player);
}

TEST_F(TerminalTest, OtherKeysAreConsumedAndIgnored) {
  Process player(Endless());
  StartEndless(player);
  // Letters, cursor keys, F1 and Alt+x all begin with bytes other than a lone
  // Esc, or are sequences that begin with Esc; none of them may stop it.
  player.Type("abc");
  player.Type("\x1b[A");
  player.Type("\x1bOP");
  player.Type("\x1b[15~");
  player.Type("\x1bx");
  EXPECT_FALSE(player.WaitForExit(kStillRunningMs));
  ExpectEndedByEsc(player);
}

// Ctrl+C keeps its meaning whatever standard input is: the program ends by
// SIGINT, so that a shell loop around it stops too.
TEST_F(TerminalTest, CtrlCInterruptsItWhateverStandardInputIs) {
  for (const char* input : {"", "/dev/null", "closed"}) {
    ProcessOptions options = Endless();
    options.stdin_file = *input == 'c' ? "" : input;
    options.stdin_closed = *input == 'c';
    Process player(options);
    StartEndless(player);
    player.Type("\x03");
    ASSERT_TRUE(player.WaitForExit(3000)) << "stdin: " << input;
    EXPECT_EQ(player.Signal(), SIGINT) << "stdin: " << input;
    EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
  }
}

TEST_F(TerminalTest, StandardInputIsNeverRead) {
  const std::string escapes = dir_.path() + "/escapes";
  std::ofstream(escapes) << std::string(4096, '\x1b');
  ProcessOptions options = Endless();
  options.stdin_file = escapes;
  Process player(options);
  StartEndless(player);
  EXPECT_FALSE(player.WaitForExit(kStillRunningMs)) << "Esc bytes on standard input stopped the run";
  ExpectEndedByEsc(player);
}

// Every signal whose default action ends the process (SIGPIPE the program
// ignores), and, as 0, a fault on the thread that reads the sound file.
TEST_F(TerminalTest, TerminalGivenBackAfterSignals) {
  std::vector<int> deadly = {SIGTERM, SIGHUP,  SIGQUIT,   SIGINT,  SIGILL,    SIGTRAP, SIGABRT, SIGBUS,
                             SIGFPE,  SIGUSR1, SIGSEGV,   SIGUSR2, SIGALRM,   SIGSTKFLT, SIGXCPU,
                             SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,    SIGSYS,  0};
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) deadly.push_back(number);
  for (const int signal_number : deadly) {
    ProcessOptions options = Endless();
    options.set = {{"LD_PRELOAD", PELDO_READ_SHIM}, {"PELDO_READ_SHIM", signal_number == 0 ? "crash" : ""}};
    Process player(options);
    if (signal_number != 0) {
      StartEndless(player);
      EXPECT_FALSE(SameMode(player.Now(), player.Initial())) << "keys need the terminal's line mode off";
      kill(player.Pid(), signal_number);
    }
    ASSERT_TRUE(player.WaitForExit(3000)) << signal_number;
    EXPECT_EQ(player.Signal(), signal_number == 0 ? SIGSEGV : signal_number);
    EXPECT_TRUE(SameMode(player.Now(), player.Initial())) << "signal " << signal_number;
    EXPECT_EQ(player.Err(), "");
  }
}

TEST_F(TerminalTest, TerminalGivenBackAfterNormalExit) {
  Process player(AtTerminal(dir_, {}));  // no name: the usage text
  ASSERT_TRUE(player.Started());
  ASSERT_TRUE(player.WaitForExit(5000));
  EXPECT_EQ(player.ExitCode(), 1);
  EXPECT_TRUE(SameMode(player.Now(), player.Initial()));
  EXPECT_NE(player.Out().find("Usage:"), std::string::npos);
}

}  // namespace
}  // namespace e2e
