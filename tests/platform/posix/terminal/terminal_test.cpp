// The terminal's mode given back only while it is ours, and the signs of a
// script's background command.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/terminal/ownership.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// Another program's raw mode (a caller such as watch): line editing and echo
// off as in ours, but its reads return after a tenth of a second.
termios OtherProgramsMode(termios mode) {
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  mode.c_cc[VMIN] = 0;
  mode.c_cc[VTIME] = 1;
  return mode;
}

TEST(TerminalModeTest, OursOnlyWhileEveryFieldIsAsWeSetIt) {
  const termios ours = {ICRNL, OPOST, CS8, ISIG, 0, {}, 0, 0};
  termios echo_back = ours, other_input = ours;
  echo_back.c_lflag |= ECHO | ICANON;
  other_input.c_iflag = 0;
  EXPECT_TRUE(StillHoldsOurMode(ours, ours));
  for (const termios& since : {echo_back, other_input, OtherProgramsMode(ours)}) {
    EXPECT_FALSE(StillHoldsOurMode(since, ours));
  }
}

// A process on a terminal of its own takes the keys, the mode may then be
// changed by someone else, and the process ends one way or another: the
// mode found at start comes back only where nobody changed it since. A stop
// here is dropped by the kernel (an orphaned process group), after its
// handler has run; a signal ignored at start stays ignored.
TEST(TerminalModeTest, GivenBackAtEveryEndOnlyWhereNobodySetAModeSince) {
  struct Row {
    int signal_number;  // 0: the end of the program
    bool ignored_at_start;
  };
  const Row rows[] = {{0, false},      {SIGINT, false}, {SIGTERM, false}, {SIGHUP, false},
                      {SIGTSTP, false}, {SIGSEGV, false}, {SIGHUP, true}};
  for (const Row& row : rows) {
    for (const bool set_since : {false, true}) {
      int master = -1, slave = -1;
      ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
      termios found{};
      tcgetattr(slave, &found);
      const termios other = OtherProgramsMode(found);
      const pid_t child = fork();
      if (child == 0) {
        const rlimit no_core = {0, 0};
        setrlimit(RLIMIT_CORE, &no_core);
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        dup2(slave, STDIN_FILENO);
        if (row.ignored_at_start) signal(row.signal_number, SIG_IGN);
        InstallSignalHandlers();
        platform::PrepareConsole();
        termios taken{};
        if (tcgetattr(slave, &taken) != 0 || (taken.c_lflag & ICANON) != 0) _exit(2);
        if (set_since) tcsetattr(slave, TCSANOW, &other);
        if (row.signal_number != 0) raise(row.signal_number);
        GiveTerminalBack();
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      const bool ends_it = row.signal_number != 0 && row.signal_number != SIGTSTP && !row.ignored_at_start;
      const int expected = ends_it ? row.signal_number : 0;
      EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status), expected)
          << row.signal_number << " " << set_since;
      termios left{};
      tcgetattr(slave, &left);
      const termios& wanted = set_since ? other : found;
      EXPECT_TRUE(left.c_lflag == wanted.c_lflag && left.c_cc[VMIN] == wanted.c_cc[VMIN] &&
                  left.c_cc[VTIME] == wanted.c_cc[VTIME])
          << "signal " << row.signal_number << ", mode set since: " << set_since;
      close(master);
      close(slave);
    }
  }
}

// A job in the background whose shell leaves (the terminal is no longer its
// own, and no one sends it SIGHUP): its waits go on, without spinning.
TEST(TerminalModeTest, ALostTerminalEndsNothingAndIsNoLongerWatched) {
  int master = -1, slave = -1, report[2];
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ASSERT_EQ(pipe(report), 0);
  const pid_t shell = fork();
  if (shell == 0) {
    setsid();
    ioctl(slave, TIOCSCTTY, 0);
    if (fork() == 0) {
      setpgid(0, 0);
      InstallSignalHandlers();
      platform::PrepareConsole();
      kill(getppid(), SIGKILL);  // the shell leaves
      timespec start{}, end{};
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &start);
      WaitForKeyOrDescriptor(-1, 300);
      clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &end);
      const long cpu_ms = (end.tv_sec - start.tv_sec) * 1000 + (end.tv_nsec - start.tv_nsec) / 1000000;
      [[maybe_unused]] const ssize_t written = write(report[1], &cpu_ms, sizeof cpu_ms);
      _exit(0);
    }
    pause();
  }
  close(report[1]);
  pollfd reported = {report[0], POLLIN, 0};
  long cpu_ms = -1;
  waitpid(shell, nullptr, 0);
  ASSERT_EQ(poll(&reported, 1, 5000), 1);
  ASSERT_EQ(read(report[0], &cpu_ms, sizeof cpu_ms), static_cast<ssize_t>(sizeof cpu_ms)) << "ended by itself";
  EXPECT_LT(cpu_ms, 50);
  for (const int fd : {master, slave, report[0]}) close(fd);
}

// Standard input of each kind, with SIGINT and SIGQUIT ignored or not.
TEST(TerminalModeTest, AScriptsBackgroundCommandHasBothSigns) {
  int pipe_ends[2];
  ASSERT_EQ(pipe(pipe_ends), 0);
  int master = -1, slave = -1;
  ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const int null_device = open("/dev/null", O_RDONLY);
  const int zero_device = open("/dev/zero", O_RDONLY);  // a character device, not the null one
  const int file = open("/proc/self/exe", O_RDONLY);
  struct Row {
    bool int_ignored, quit_ignored;
    int input;
    bool background;
  };
  const Row rows[] = {{true, true, null_device, true},   {true, false, null_device, false},
                      {false, true, null_device, false}, {false, false, null_device, false},
                      {true, true, file, false},         {true, true, pipe_ends[0], false},
                      {true, true, slave, false},        {true, true, zero_device, false}};
  struct sigaction int_before{}, quit_before{};
  sigaction(SIGINT, nullptr, &int_before);
  sigaction(SIGQUIT, nullptr, &quit_before);
  for (const Row& row : rows) {
    signal(SIGINT, row.int_ignored ? SIG_IGN : SIG_DFL);
    signal(SIGQUIT, row.quit_ignored ? SIG_IGN : SIG_DFL);
    EXPECT_EQ(StartedInAScriptsBackground(row.input), row.background)
        << row.int_ignored << row.quit_ignored << " input " << row.input;
  }
  sigaction(SIGINT, &int_before, nullptr);
  sigaction(SIGQUIT, &quit_before, nullptr);
  for (const int fd : {pipe_ends[0], pipe_ends[1], master, slave, null_device, zero_device, file}) close(fd);
}

}  // namespace
