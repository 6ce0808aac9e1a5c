// The terminal on POSIX: standard output, and the keyboard read from the
// controlling terminal (never from standard input).
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix/terminal/key_decoder.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// How long the terminal must stay quiet after an Esc before it counts as the
// Esc key rather than the start of a sequence.
constexpr uint64_t kLoneEscMs = 20;

int keyboard = -1;  // the controlling terminal, or -1 when keys cannot be read
// Whether the user types to this program on standard input: Ctrl+C and
// Ctrl+Z are then keys.
bool typed_to = false;
// The key mode is ours while mode_changed is set: saved_mode is the mode we
// found and owe back, key_mode the one we set. Signal handlers read and
// write these.
termios saved_mode{};
termios key_mode{};
volatile sig_atomic_t mode_changed = 0;

// Bytes read from the terminal and not yet taken as key presses.
uint8_t pending[256];
size_t pending_length = 0;
uint64_t last_byte_ms = 0;
// The key press that PeekKeyEvent showed, until RemoveKeyEvent takes it.
DecodedKey peeked;
bool has_peeked = false;

// Whether the process is the terminal's foreground process group: only then
// may it read the terminal or set its mode. Async-signal-safe.
bool InForeground() { return keyboard >= 0 && tcgetpgrp(keyboard) == getpgrp(); }

bool SameMode(const termios& a, const termios& b) {
  return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
         a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

// Gives the mode back, from the foreground only. Async-signal-safe.
void RestoreTerminal() {
  if (mode_changed == 0 || !InForeground()) return;
  tcsetattr(keyboard, TCSANOW, &saved_mode);
  mode_changed = 0;
}

// Sets the key mode when the process is in the foreground and the terminal
// is not in it already; the mode found there is the one owed back. A shell
// that got the terminal back while the process was away may have set its
// own mode, or put ours back: only the first is saved. Async-signal-safe.
void TakeKeyMode() {
  termios found{};
  if (!InForeground() || tcgetattr(keyboard, &found) != 0) return;
  if (mode_changed != 0 && SameMode(found, key_mode)) return;
  termios mode = found;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  // One byte is enough for a read; with nothing there the descriptor's
  // non-blocking mode answers "try again", so 0 can only mean the end.
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // As a console with processed input off: when the user types to this
  // program, Ctrl+C and Ctrl+Z are keys like any other. Ctrl+\ still ends it.
  if (typed_to) {
    mode.c_cc[VINTR] = _POSIX_VDISABLE;
    mode.c_cc[VSUSP] = _POSIX_VDISABLE;
  }
  saved_mode = found;
  key_mode = mode;
  if (tcsetattr(keyboard, TCSANOW, &key_mode) == 0) mode_changed = 1;
}

// Where the terminal's foreground is now: keys when it is ours.
void FollowForeground() { TakeKeyMode(); }

// Gives the terminal back, then lets the signal do what it always does.
void OnFatalSignal(int signal_number) {
  RestoreTerminal();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Ctrl+Z, or a write to the terminal from the background where the terminal
// asks for a stop: the mode is given back while the program is stopped, so
// the shell finds it as it was, and taken again on the way on if the
// program is then in the foreground.
void OnStopSignal(int signal_number) {
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
  TakeKeyMode();
  errno = saved_errno;
}

// Continued after a stop the program did not see (SIGSTOP), brought to the
// foreground ("fg"), or sent to the background ("bg").
void OnContinue(int) {
  const int saved_errno = errno;
  TakeKeyMode();
  errno = saved_errno;
}

// A signal the caller ignored (nohup, say) stays ignored.
void HandleUnlessIgnored(int signal_number, void (*handler)(int), int flags) {
  struct sigaction previous{};
  if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action{};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

void StopReading() {
  RestoreTerminal();
  close(keyboard);
  keyboard = -1;
  pending_length = 0;
}

// Whether `descriptor` is the controlling terminal itself (the device that
// /dev/tty stands for), as standard input is when the user types to us.
bool IsControllingTerminal(int descriptor) {
  return isatty(descriptor) && tcgetsid(descriptor) == getsid(0);
}

// Takes whatever the terminal has sent so far, without waiting; nothing from
// the background, where the keys are the shell's.
void ReadTerminal() {
  while (InForeground() && pending_length < sizeof pending) {
    const ssize_t count = read(keyboard, pending + pending_length, sizeof pending - pending_length);
    if (count > 0) {
      pending_length += static_cast<size_t>(count);
      last_byte_ms = platform::MonotonicMilliseconds();
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    // Sent to the background between the look and the read: EIO, as
    // SIGTTIN is ignored. Nothing is lost; the keys are the shell's now.
    if (count < 0 && errno == EIO && !InForeground()) return;
    // End of file or an error other than "nothing yet": the terminal has
    // gone away, so stop reading instead of waking up for it again and again.
    if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) StopReading();
    return;
  }
}

void DropPending(size_t count) {
  std::memmove(pending, pending + count, pending_length - count);
  pending_length -= count;
}

// A full buffer cannot wait for more: what it holds is all there is.
bool QuietLongEnough() {
  return pending_length == sizeof pending || platform::MonotonicMilliseconds() - last_byte_ms >= kLoneEscMs;
}

// Decodes the next key press into `peeked`, skipping what is no key press.
bool DecodeNext() {
  if (has_peeked) return true;
  ReadTerminal();
  while (pending_length > 0) {
    const DecodedKey key = DecodeKey(pending, pending_length, QuietLongEnough());
    if (key.status == DecodeStatus::kIncomplete) return false;
    if (key.status == DecodeStatus::kSkipped) {
      DropPending(key.consumed);
      continue;
    }
    peeked = key;
    has_peeked = true;
    return true;
  }
  return false;
}

// Whether an Esc key press is among the keys not yet taken; they stay in
// place. *incomplete tells whether the last bytes may still become a key.
bool EscWaiting(bool* incomplete) {
  ReadTerminal();
  *incomplete = false;
  size_t offset = 0;
  while (offset < pending_length) {
    const DecodedKey key = DecodeKey(pending + offset, pending_length - offset, QuietLongEnough());
    if (key.status == DecodeStatus::kIncomplete) {
      *incomplete = true;
      return false;
    }
    if (key.status == DecodeStatus::kKey && key.event.key_down && key.event.character == 27) return true;
    offset += key.consumed;
  }
  // A buffer full of other keys would stop the terminal from being read;
  // the player would only have thrown them away.
  if (pending_length == sizeof pending) {
    has_peeked = false;
    DropPending(offset);
  }
  return false;
}

// How long a wait may last before a lone Esc has had its time to become the
// Esc key; `limit` when nothing waits for that.
int LoneEscWaitMs(int limit) {
  if (pending_length == 0) return limit;
  const uint64_t quiet = platform::MonotonicMilliseconds() - last_byte_ms;
  const int left = quiet >= kLoneEscMs ? 0 : static_cast<int>(kLoneEscMs - quiet);
  return left < limit ? left : limit;
}

}  // namespace

void GiveTerminalBack() { RestoreTerminal(); }

WaitEnd WaitForDescriptorOrEsc(int descriptor, int timeout_ms) {
  const uint64_t deadline = platform::MonotonicMilliseconds() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    FollowForeground();
    pollfd watched[2] = {{descriptor, POLLIN, 0}, {keyboard, POLLIN, 0}};
    if (poll(watched, 1, 0) > 0) return WaitEnd::kReady;
    bool incomplete = false;
    if (EscWaiting(&incomplete)) return WaitEnd::kEscWaiting;
    const uint64_t now = platform::MonotonicMilliseconds();
    if (now >= deadline) return WaitEnd::kTimedOut;
    int left = static_cast<int>(deadline - now);
    // An Esc byte on its own is the Esc key once the terminal stays quiet.
    if (incomplete) left = LoneEscWaitMs(left) + 1;
    // SIGCONT ends the poll, and the next pass looks at the foreground again.
    poll(watched, InForeground() ? 2 : 1, left);
  }
}

namespace platform {

void PrepareConsole() {
  // Kept in the background too: the program may be brought to the
  // foreground later, and then it takes the keys.
  const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) return;
  keyboard = terminal;
  typed_to = IsControllingTerminal(STDIN_FILENO);

  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    HandleUnlessIgnored(signal_number, OnFatalSignal, 0);
  }
  for (const int signal_number : {SIGTSTP, SIGTTOU}) {
    HandleUnlessIgnored(signal_number, OnStopSignal, SA_RESTART);
  }
  // The program reads the terminal only in the foreground; a read that
  // loses the race with "bg" fails instead of stopping the program.
  signal(SIGTTIN, SIG_IGN);
  HandleUnlessIgnored(SIGCONT, OnContinue, SA_RESTART);
  TakeKeyMode();
}

int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written) {
  const ssize_t count = write(STDOUT_FILENO, bytes, length);
  *written = count > 0 ? static_cast<uint32_t>(count) : 0;
  return count >= 0 ? 1 : 0;
}

bool PeekKeyEvent(KeyEvent* event) {
  if (!DecodeNext()) return false;
  *event = peeked.event;
  return true;
}

void RemoveKeyEvent() {
  if (!has_peeked) return;
  DropPending(peeked.consumed);
  has_peeked = false;
}

}  // namespace platform

void WaitForKeyOrDescriptor(int descriptor, uint32_t timeout_ms) {
  FollowForeground();
  if (DecodeNext()) return;
  // Part of a sequence, or a lone Esc: look again when it has had its time.
  const int wait_ms = LoneEscWaitMs(static_cast<int>(timeout_ms));
  pollfd watched[2] = {};
  nfds_t count = 0;
  // In the background the keys are the shell's; SIGCONT ends the wait.
  if (InForeground()) watched[count++] = {keyboard, POLLIN, 0};
  if (descriptor >= 0) watched[count++] = {descriptor, POLLIN, 0};
  poll(watched, count, wait_ms);
}
