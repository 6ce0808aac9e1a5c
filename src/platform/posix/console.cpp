// The terminal on POSIX: standard output, and the keyboard read from the
// controlling terminal (never from standard input).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix/key_decoder.h"
#include "platform/posix/sound_end.h"

namespace {

// How long the terminal must stay quiet after an Esc before it counts as the
// Esc key rather than the start of a sequence.
constexpr uint64_t kLoneEscMs = 20;

int keyboard = -1;  // the controlling terminal, or -1 when keys cannot be read
termios saved_mode{};
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

// Gives the terminal back, then lets the signal do what it always does.
void OnFatalSignal(int signal_number) {
  RestoreTerminal();
  signal(signal_number, SIG_DFL);
  raise(signal_number);
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

}  // namespace

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

  termios mode = saved_mode;
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

  struct sigaction action{};
  action.sa_handler = OnFatalSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaction(signal_number, &action, nullptr);
  }
  std::atexit(RestoreTerminal);
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

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) {
  if (DecodeNext()) return;
  int wait_ms = static_cast<int>(timeout_ms);
  if (pending_length > 0) {
    // Part of a sequence, or a lone Esc: look again when it has had its time.
    const uint64_t quiet = MonotonicMilliseconds() - last_byte_ms;
    const int left = quiet >= kLoneEscMs ? 0 : static_cast<int>(kLoneEscMs - quiet);
    if (left < wait_ms) wait_ms = left;
  }
  pollfd watched[2] = {};
  nfds_t count = 0;
  if (keyboard >= 0) watched[count++] = {keyboard, POLLIN, 0};
  if (const int sound_end = SoundEndDescriptor(); sound_end >= 0) watched[count++] = {sound_end, POLLIN, 0};
  poll(watched, count, wait_ms);
}

}  // namespace platform
