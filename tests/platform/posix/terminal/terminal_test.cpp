// The terminal's mode given back only while it is ours, the signs of a
// script's background command, a terminal lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <vector>

#include "console/key_events.h"
#include "platform/platform.h"
#include "platform/posix/terminal/ownership.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// The fork test below sets a mode that differs from ours in the control
// characters only; a flag alone counts as well.
TEST(TerminalModeTest, OursOnlyWhileEveryFieldIsAsWeSetIt) {
  const termios ours = {ICRNL, OPOST, CS8, ISIG, 0, {}, 0, 0};
  for (tcflag_t termios::*field : {&termios::c_iflag, &termios::c_oflag, &termios::c_cflag, &termios::c_lflag}) {
    termios since = ours;
    since.*field ^= 1;
    EXPECT_FALSE(StillHoldsOurMode(since, ours));
  }
}

// Forks a child in a session of its own whose controlling terminal is
// `slave`, with standard input on `input` (nullptr: the terminal), the
// signals `ignored` ignored, no core file. As fork: 0 in the child.
pid_t ForkAtTerminal(int slave, const std::vector<int>& ignored = {}, const char* input = nullptr) {
  const pid_t child = fork();
  if (child != 0) return child;
  const rlimit no_core = {0, 0};
  setrlimit(RLIMIT_CORE, &no_core);
  setsid();
  ioctl(slave, TIOCSCTTY, 0);
  dup2(input != nullptr ? open(input, O_RDONLY) : slave, STDIN_FILENO);
  for (const int signal_number : ignored) signal(signal_number, SIG_IGN);
  return 0;
}

// How `pid` (-1: any child) ended: the signal that ended it, or minus its
// exit status.
int EndOf(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status);
}

// The mode found at start comes back at every end, unless another program
// (a caller such as watch) set its own since. A stop is dropped by the
// kernel here (an orphaned process group) after its handler has run. A
// signal ignored at start stays ignored. A script's background command
// (both signs: SIGINT and SIGQUIT ignored, input on /dev/null) takes no keys.
TEST(TerminalModeTest, GivenBackAtEveryEndOnlyWhereNobodySetAModeSince) {
  struct Row {
    int raised;  // 0: the end of the program
    std::vector<int> ignored;
    const char* input;  // nullptr: the terminal
    int end;            // the signal that ends it, or minus its exit status (-2: no keys taken)
  };
  const Row rows[] = {{0, {}, nullptr, 0},          {SIGINT, {}, nullptr, SIGINT},   {SIGTERM, {}, nullptr, SIGTERM},
                      {SIGHUP, {}, nullptr, SIGHUP}, {SIGSEGV, {}, nullptr, SIGSEGV}, {SIGTSTP, {}, nullptr, 0},
                      {SIGHUP, {SIGHUP}, nullptr, 0}, {0, {SIGINT, SIGQUIT}, "/dev/null", -2},
                      {0, {SIGINT}, "/dev/null", 0}, {0, {SIGQUIT}, "/dev/null", 0},
                      {0, {SIGINT, SIGQUIT}, "/proc/self/exe", 0}, {0, {SIGINT, SIGQUIT}, nullptr, 0},
                      {SIGRTMIN, {}, nullptr, SIGRTMIN}, {SIGPIPE, {}, nullptr, 0}};
  for (const Row& row : rows) {
    for (const bool set_since : {false, true}) {
      int master = -1, slave = -1;
      ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
      termios found{}, now{};
      tcgetattr(slave, &found);
      termios other = found;  // another program's raw mode: its reads return after a tenth of a second
      other.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      other.c_cc[VTIME] = 1;
      const pid_t child = ForkAtTerminal(slave, row.ignored, row.input);
      if (child == 0) {
        InstallSignalHandlers();
        platform::PrepareConsole();
        // Keys come without Enter and without echo; Ctrl+C keeps its signal.
        if (tcgetattr(slave, &now) != 0 || (now.c_lflag & (ICANON | ECHO | ISIG)) != ISIG) _exit(2);
        if (set_since) tcsetattr(slave, TCSANOW, &other);
        if (row.raised != 0) raise(row.raised);
        GiveTerminalBack();
        _exit(0);
      }
      SCOPED_TRACE(testing::Message() << "row " << &row - rows << ", mode set since: " << set_since);
      EXPECT_EQ(EndOf(child), row.end);
      tcgetattr(slave, &now);
      const termios& wanted = set_since && row.end != -2 ? other : found;
      EXPECT_TRUE(now.c_lflag == wanted.c_lflag && std::memcmp(now.c_cc, wanted.c_cc, NCCS) == 0);
      close(master);
      close(slave);
    }
  }
}

// Keys typed at the terminal: a cursor key is no Esc although its bytes
// begin with one; an Esc on its own is heard once the terminal stays quiet.
TEST(TerminalModeTest, EscAloneIsHeardAndACursorKeyIsNot) {
  int master = -1, slave = -1, ready[2];
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = ForkAtTerminal(slave);
  if (child == 0) {
    InstallSignalHandlers();
    platform::PrepareConsole();
    [[maybe_unused]] const ssize_t written = write(ready[1], "", 1);
    if (WaitForDescriptorOrEsc(-1, 5000) != WaitEnd::kEscPressed) _exit(3);
    const bool x = EscPressed(), up = EscPressed(), esc = EscPressed();
    _exit(!x && !up && esc ? 0 : 4);
  }
  pollfd started = {ready[0], POLLIN, 0};
  ASSERT_EQ(poll(&started, 1, 5000), 1);
  ASSERT_EQ(write(master, "x\x1b[A\x1b", 5), 5);
  EXPECT_EQ(EndOf(child), 0);
  for (const int fd : {master, slave, ready[0], ready[1]}) close(fd);
}

// Started in the background, it leaves the terminal's mode and keys to the
// shell; brought to the foreground ("fg"), it takes them.
TEST(TerminalModeTest, KeysAreTakenOnlyInTheForeground) {
  int master = -1, slave = -1, ready[2];
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(pipe(ready), 0);
  const pid_t session = ForkAtTerminal(slave);
  if (session == 0) {
    if (const pid_t job = fork(); job != 0) _exit(EndOf(job) == 0 ? 0 : 1);
    setpgid(0, 0);
    InstallSignalHandlers();
    platform::PrepareConsole();
    termios now{};
    if (tcgetattr(slave, &now) != 0 || (now.c_lflag & ICANON) == 0 || EscPressed()) _exit(2);
    signal(SIGTTOU, SIG_IGN);
    tcsetpgrp(slave, getpgrp());
    [[maybe_unused]] const ssize_t written = write(ready[1], "", 1);
    _exit(WaitForDescriptorOrEsc(-1, 5000) == WaitEnd::kEscPressed ? 0 : 3);
  }
  pollfd started = {ready[0], POLLIN, 0};
  ASSERT_EQ(poll(&started, 1, 5000), 1);
  ASSERT_EQ(write(master, "\x1b", 1), 1);
  EXPECT_EQ(EndOf(session), 0);
  for (const int fd : {master, slave, ready[0], ready[1]}) close(fd);
}

// A job in the background whose shell leaves: the terminal is no longer its
// own, and no one sends it SIGHUP. Its waits go on, without spinning.
TEST(TerminalModeTest, ALostTerminalEndsNothingAndIsNoLongerWatched) {
  int master = -1, slave = -1, report[2];
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(pipe(report), 0);
  const pid_t shell = ForkAtTerminal(slave);
  if (shell == 0) {
    if (fork() != 0) for (;;) pause();  // the shell
    setpgid(0, 0);
    InstallSignalHandlers();
    platform::PrepareConsole();
    kill(getppid(), SIGKILL);  // the shell leaves
    const std::clock_t start = std::clock();
    WaitForKeyOrDescriptor(-1, 300);
    const char spun = std::clock() - start < CLOCKS_PER_SEC / 20 ? 0 : 1;
    [[maybe_unused]] const ssize_t written = write(report[1], &spun, 1);
    _exit(0);
  }
  close(report[1]);
  EndOf(shell);
  pollfd reported = {report[0], POLLIN, 0};
  char spun = -1;
  ASSERT_EQ(poll(&reported, 1, 5000), 1);
  ASSERT_EQ(read(report[0], &spun, 1), 1) << "it ended by itself";
  EXPECT_EQ(spun, 0) << "it spun";
  for (const int fd : {master, slave, report[0]}) close(fd);
}

}  // namespace
