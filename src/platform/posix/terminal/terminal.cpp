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

void RestoreTerminal() {
  if (mode_changed != 0) {
    tcsetattr(keyboard, TCSANOW, &saved_mode);
    mode_changed = 0;
  }
}

// Only while the program is in the foreground: a change from the background
// would stop it.
void TakeKeyMode() {
  if (keyboard < 0 || tcgetpgrp(keyboard) != getpgrp()) return;
  if (tcsetattr(keyboard, TCSANOW, &key_mode) == 0) mode_changed = 1;
}

// Gives the terminal back, then lets the signal do what it always does.
void OnFatalSignal(int signal_number) {
  RestoreTerminal();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
}

// Ctrl+Z and its kin: the terminal is given back while the program is
// stopped, so the shell finds it as it was, and taken again on the way on.
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

// Continued after a stop the program did not see (SIGSTOP), or after the
// shell set the terminal its own way.
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

// Takes whatever the terminal has sent so far, without waiting.
void ReadTerminal() {
  while (keyboard >= 0 && pending_length < sizeof pending) {
    const ssize_t count = read(keyboard, pending + pending_length, sizeof pending - pending_length);
    if (count > 0) {
      pending_length += static_cast<size_t>(count);
      last_byte_ms = platform::MonotonicMilliseconds();
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
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
    pollfd watched[2] = {{descriptor, POLLIN, 0}, {keyboard, POLLIN, 0}};
    if (poll(watched, 1, 0) > 0) return WaitEnd::kReady;
    bool incomplete = false;
    if (EscWaiting(&incomplete)) return WaitEnd::kEscWaiting;
    const uint64_t now = platform::MonotonicMilliseconds();
    if (now >= deadline) return WaitEnd::kTimedOut;
    int left = static_cast<int>(deadline - now);
    // An Esc byte on its own is the Esc key once the terminal stays quiet.
    if (incomplete) left = LoneEscWaitMs(left) + 1;
    poll(watched, keyboard >= 0 ? 2 : 1, left);
  }
}

namespace platform {

void PrepareConsole() {
  // A process in the background may neither read the terminal nor change its
  // mode; it plays without keys.
  const int terminal = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (terminal < 0) return;
  if (tcgetpgrp(terminal) != getpgrp() || tcgetattr(terminal, &saved_mode) != 0) {
    close(terminal);
    return;
  }
  keyboard = terminal;

  termios& mode = key_mode;
  mode = saved_mode;
  mode.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  // One byte is enough for a read; with nothing there the descriptor's
  // non-blocking mode answers "try again", so 0 can only mean the end.
  mode.c_cc[VMIN] = 1;
  mode.c_cc[VTIME] = 0;
  // As a console with processed input off: when the user types to this
  // program, Ctrl+C and Ctrl+Z are keys like any other. Ctrl+\ still ends it.
  if (IsControllingTerminal(STDIN_FILENO)) {
    mode.c_cc[VINTR] = _POSIX_VDISABLE;
    mode.c_cc[VSUSP] = _POSIX_VDISABLE;
  }

  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    HandleUnlessIgnored(signal_number, OnFatalSignal, 0);
  }
  for (const int signal_number : {SIGTSTP, SIGTTIN, SIGTTOU}) {
    HandleUnlessIgnored(signal_number, OnStopSignal, SA_RESTART);
  }
  HandleUnlessIgnored(SIGCONT, OnContinue, SA_RESTART);
  if (tcsetattr(keyboard, TCSANOW, &mode) == 0) mode_changed = 1;
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
  if (DecodeNext()) return;
  // Part of a sequence, or a lone Esc: look again when it has had its time.
  const int wait_ms = LoneEscWaitMs(static_cast<int>(timeout_ms));
  pollfd watched[2] = {};
  nfds_t count = 0;
  if (keyboard >= 0) watched[count++] = {keyboard, POLLIN, 0};
  if (descriptor >= 0) watched[count++] = {descriptor, POLLIN, 0};
  poll(watched, count, wait_ms);
}
