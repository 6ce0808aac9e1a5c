// The terminal on POSIX: the keyboard read from the controlling terminal
// (never from standard input), its mode, and the signals of job control.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/system.h"
#include "platform/posix/terminal/keyboard.h"
#include "platform/posix/terminal/ownership.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// In the background, how often a wait looks whether the terminal has become
// ours: a shell's "fg" may move the foreground without a signal.
constexpr uint64_t kBackgroundLookMs = 50;

// Read by signal handlers; the main thread changes them only inside a
// ModeChange, and writes saved_mode and key_mode before it sets
// mode_changed, which a handler on a worker reads first. While mode_changed
// is set, saved_mode is the mode we found and owe back, as long as the
// terminal holds key_mode, the mode we set.
volatile sig_atomic_t keyboard = -1;  // the controlling terminal, or -1: no keys
termios saved_mode{};
termios key_mode{};
std::atomic<int> mode_changed{0};
// How many of our own mode calls are under way: a SIGTTOU meanwhile is the
// terminal refusing one from the background, not a stop.
std::atomic<int> own_mode_calls{0};
// Written by the handlers of SIGCONT and the stops, polled by every wait.
int wake_read = -1;
volatile sig_atomic_t wake_write = -1;
// Blocked while the main thread changes the mode: the signals whose handlers
// read it on the main thread. Set once, as the handlers are installed.
// SIGTTOU is never among them: blocked, it would let our own call from the
// background change the mode under the shell.
sigset_t mode_signals;

// Main thread only.
bool given_back = false;  // the terminal has been given back for good

// Blocks the signals whose handlers read the mode while it is changed.
class ModeChange {
 public:
  ModeChange() { pthread_sigmask(SIG_BLOCK, &mode_signals, &previous_); }
  ~ModeChange() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  ModeChange(const ModeChange&) = delete;
  ModeChange& operator=(const ModeChange&) = delete;

 private:
  sigset_t previous_;
};

// Sets the terminal's mode. Should the process have gone to the background
// since it looked (stopped and sent on with "bg"), the terminal refuses with
// SIGTTOU, whose handler then lets the call fail instead of stopping the job
// again. Async-signal-safe.
bool SetMode(const termios& mode) {
  own_mode_calls.fetch_add(1);
  const bool set = tcsetattr(keyboard, TCSANOW, &mode) == 0;
  own_mode_calls.fetch_sub(1);
  return set;
}

// Gives the mode back, from the foreground only, and only while the
// terminal holds the mode we set: one set since (a caller such as watch
// putting its own back, another copy of the program in the same job that
// gave back what it found) is no longer ours to undo, and the debt is gone.
// Async-signal-safe; on the main thread, called inside a ModeChange.
void RestoreTerminal() {
  if (mode_changed.load() == 0 || !InForeground()) return;
  termios now{};
  if (tcgetattr(keyboard, &now) != 0) return;
  if (!StillHoldsOurMode(now, key_mode) || SetMode(saved_mode)) mode_changed.store(0);
}

// Sets the key mode when the process is in the foreground and the terminal
// is not in it already; the mode found there is the one owed back. A shell
// that got the terminal back while the process was away may have set its
// own mode, or put ours back: only the first is saved. Main thread only.
void TakeKeyMode() {
  if (given_back) return;
  const ModeChange change;
  termios found{};
  if (!InForeground() || tcgetattr(keyboard, &found) != 0) return;
  if (mode_changed.load() != 0 && StillHoldsOurMode(found, key_mode)) return;
  termios mode = found;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  // One byte is enough for a read; with nothing there the descriptor's
  // non-blocking mode answers "try again", so 0 can only mean the end.
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // Ctrl+C, Ctrl+\ and Ctrl+Z keep their signals: a shell loop or make
  // stops on Ctrl+C as it does for any other command.
  // Owed before it is set: a fault on a worker may give it back any time.
  // Counted as our own call from before it is owed: a SIGTTOU meanwhile
  // would give the mode back and clear the debt, and the call then set the
  // key mode with nothing owed.
  own_mode_calls.fetch_add(1);
  mode_changed.store(0);
  saved_mode = found;
  key_mode = mode;
  mode_changed.store(1);
  const bool set = SetMode(mode);
  own_mode_calls.fetch_sub(1);
  if (!set) {
    mode_changed.store(0);
    return;
  }
  // What the terminal made of it, which is what a handler will find there
  // (a device may drop a setting it does not have).
  termios taken{};
  if (tcgetattr(keyboard, &taken) == 0) key_mode = taken;
}

// Wakes the main thread's wait. Async-signal-safe.
void Wake() {
  const char byte = 0;
  if (wake_write >= 0) [[maybe_unused]] const ssize_t written = write(wake_write, &byte, 1);
}

// Takes what signals have said since the last look; the look at the
// foreground that follows, before every pass of every wait, answers it.
void DrainWake() {
  char drained[64];
  while (wake_read >= 0 && read(wake_read, drained, sizeof drained) > 0) {
  }
}

// Gives the terminal back, then lets the signal end the process as it always
// does, so that its parent sees which. A fault may come on a worker: the
// signal is then raised there again, and ends the process all the same.
void OnDeadlySignal(int signal_number) {
  const int saved_errno = errno;
  RestoreTerminal();
  signal(signal_number, SIG_DFL);
  // Blocked in its handler: it ends the process as the handler returns.
  raise(signal_number);
  errno = saved_errno;
}

// Ctrl+Z, or a terminal call from the background where the terminal asks
// for a stop: the mode is given back while the program is stopped, so the
// shell finds it as it was; on the way on, the main thread takes it again
// if the program is then in the foreground.
void OnStopSignal(int signal_number) {
  // Our own mode call, refused in the background: it fails with EINTR (the
  // handler does not restart calls), and the job plays on.
  if (signal_number == SIGTTOU && own_mode_calls.load() > 0) return;
  const int saved_errno = errno;
  RestoreTerminal();
  struct sigaction stop{};
  struct sigaction ours{};
  stop.sa_handler = SIG_DFL;
  sigaction(signal_number, &stop, &ours);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  raise(signal_number);
  // The signal is blocked in its handler: letting it through stops the
  // process here, until SIGCONT.
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  pthread_sigmask(SIG_BLOCK, &just_this, nullptr);
  sigaction(signal_number, &ours, nullptr);
  Wake();
  errno = saved_errno;
}

// Continued after a stop the program did not see (SIGSTOP), brought to the
// foreground ("fg"), or sent to the background ("bg").
void OnContinue(int) {
  const int saved_errno = errno;
  Wake();
  errno = saved_errno;
}

bool Ignored(int signal_number) {
  struct sigaction now{};
  return sigaction(signal_number, nullptr, &now) == 0 && now.sa_handler == SIG_IGN;
}

// A signal the caller ignored (nohup, say) stays ignored.
void HandleUnlessIgnored(int signal_number, void (*handler)(int), int flags) {
  if (Ignored(signal_number)) return;
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

}  // namespace

bool InForeground() {
  const int terminal = keyboard;
  return terminal >= 0 && tcgetpgrp(terminal) == getpgrp();
}

int KeyboardDescriptor() { return keyboard; }

// No handler can see the descriptor once it is closed. The program does
// not end for it: it lives and dies by the SIGHUP the kernel or the shell
// sends, and a job no one signals (disowned, or left by the shell's exit)
// plays on without looking at the terminal again.
void StopReading() {
  int closed = -1;
  {
    const ModeChange change;
    RestoreTerminal();
    closed = keyboard;
    keyboard = -1;
  }
  if (closed >= 0) close(closed);
  ForgetKeys();
}

namespace {

// Which key presses end a wait.
enum class KeysWatched { kEsc, kAny };

// The terminal's side of every wait: blocks until `descriptor` (-1: none)
// polls readable (kReady), a key press of those watched waits (kEscPressed;
// it stays where it is), or `deadline` passes (kTimedOut).
WaitEnd WaitWithKeys(int descriptor, uint64_t deadline, KeysWatched keys) {
  for (;;) {
    DrainWake();
    // One look at the foreground a pass. A terminal that has hung up, or is
    // no longer ours, has no foreground to look at.
    const pid_t owner = keyboard >= 0 && !given_back ? tcgetpgrp(keyboard) : 0;
    if (owner < 0) StopReading();
    const bool foreground = keyboard >= 0 && owner == getpgrp();
    if (foreground) TakeKeyMode();
    pollfd ready = {descriptor, POLLIN, 0};
    if (descriptor >= 0 && poll(&ready, 1, 0) > 0) return WaitEnd::kReady;
    bool incomplete = false;
    // In the background only keys read before are looked at.
    if (foreground || KeysPending()) {
      if (keys == KeysWatched::kEsc ? EscWaiting(&incomplete) : DecodeNext()) return WaitEnd::kEscPressed;
      if (keys == KeysWatched::kAny) incomplete = KeysPending();
    }
    const uint64_t now = ClockMilliseconds();
    if (now >= deadline) return WaitEnd::kTimedOut;
    uint64_t wake_at = deadline;
    // An Esc byte on its own is the Esc key once the terminal stays quiet.
    if (incomplete) wake_at = std::min(deadline, now + LoneEscWaitMs() + 1);
    // "fg" from a shell that sends no SIGCONT to a running job, or a hang-up
    // that sends no SIGHUP to a job in the background; a terminal gone is
    // no longer looked at.
    if (keyboard >= 0 && !given_back && !foreground) wake_at = std::min(wake_at, now + kBackgroundLookMs);
    pollfd watched[3] = {};
    nfds_t count = 0;
    if (descriptor >= 0) watched[count++] = {descriptor, POLLIN, 0};
    // SIGCONT writes here, so a change of foreground just before the poll
    // still ends it.
    if (wake_read >= 0) watched[count++] = {wake_read, POLLIN, 0};
    // In the background the keys are the shell's.
    if (foreground) watched[count++] = {KeyboardDescriptor(), POLLIN, 0};
    PollUntil(watched, count, wake_at);
  }
}

}  // namespace

void GiveTerminalBack() {
  const ModeChange change;
  RestoreTerminal();
  given_back = true;
}

WaitEnd WaitForDescriptorOrEsc(int descriptor, int timeout_ms) {
  return WaitWithKeys(descriptor, DeadlineAfter(timeout_ms), KeysWatched::kEsc);
}

void WaitForKeyOrDescriptor(int descriptor, uint32_t timeout_ms) {
  WaitWithKeys(descriptor, DeadlineAfter(static_cast<int>(timeout_ms)), KeysWatched::kAny);
}

void PrepareTerminal() {
  // A script's background command leaves the terminal to the script: it
  // never reads it, sets it, or watches it.
  if (StartedInAScriptsBackground(STDIN_FILENO)) return;
  // Kept in the background too: the program may be brought to the
  // foreground later, and then it takes the keys.
  const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) return;
  int wake[2];
  if (pipe2(wake, O_NONBLOCK | O_CLOEXEC) == 0) {
    wake_read = wake[0];
    wake_write = wake[1];
  }
  keyboard = terminal;
  TakeKeyMode();
}

bool StillHoldsOurMode(const termios& now, const termios& ours) {
  return now.c_iflag == ours.c_iflag && now.c_oflag == ours.c_oflag && now.c_cflag == ours.c_cflag &&
         now.c_lflag == ours.c_lflag && std::memcmp(now.c_cc, ours.c_cc, sizeof now.c_cc) == 0;
}

bool StartedInAScriptsBackground(int input) {
  if (!Ignored(SIGINT) || !Ignored(SIGQUIT)) return false;
  struct stat found{};
  struct stat null_device{};
  return fstat(input, &found) == 0 && stat("/dev/null", &null_device) == 0 && S_ISCHR(found.st_mode) &&
         found.st_rdev == null_device.st_rdev;
}

void InstallSignalHandlers() {
  // Per kind: the handler, its flags, and whether the main thread blocks it
  // while it changes the mode. A fault comes on the thread that made it,
  // which never changes the mode. A stop refusing our own mode call is not
  // restarted, so that the call fails, and never blocked, since blocked it
  // would let that call from the background change the mode under the shell.
  struct Handling {
    SignalKind kind;
    void (*handler)(int);
    int flags;
    bool mode_signal;
  };
  static constexpr Handling kHandlings[] = {
      {SignalKind::kDeadly, OnDeadlySignal, 0, true},    {SignalKind::kFault, OnDeadlySignal, 0, false},
      {SignalKind::kStop, OnStopSignal, SA_RESTART, true}, {SignalKind::kStopOnOwnCall, OnStopSignal, 0, false},
      {SignalKind::kContinue, OnContinue, SA_RESTART, true},
  };
  sigemptyset(&mode_signals);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    const SignalKind kind = KindOfSignal(signal_number);
    if (kind == SignalKind::kIgnored) signal(signal_number, SIG_IGN);
    for (const Handling& handling : kHandlings) {
      if (handling.kind != kind) continue;
      HandleUnlessIgnored(signal_number, handling.handler, handling.flags);
      if (handling.mode_signal) sigaddset(&mode_signals, signal_number);
    }
  }
}

