// Key presses on POSIX: the bytes the terminal sends, read without waiting
// and decoded into the console's key events. Main thread only.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/system.h"
#include "platform/posix/terminal/key_decoder.h"
#include "platform/posix/terminal/keyboard.h"
#include "platform/posix/terminal/terminal.h"

namespace {

// How long the terminal must stay quiet after an Esc before it counts as the
// Esc key rather than the start of a sequence.
constexpr uint64_t kLoneEscMs = 20;

// Bytes read from the terminal and not yet taken as key presses.
uint8_t pending[256];
size_t pending_length = 0;
uint64_t last_byte_ms = 0;
// The key press that PeekKeyEvent showed, until RemoveKeyEvent takes it.
DecodedKey peeked;
bool has_peeked = false;

// Takes whatever the terminal has sent so far, without waiting; nothing from
// the background, where the keys are the shell's.
void ReadTerminal() {
  while (InForeground() && pending_length < sizeof pending) {
    const ssize_t count = read(KeyboardDescriptor(), pending + pending_length, sizeof pending - pending_length);
    if (count > 0) {
      pending_length += static_cast<size_t>(count);
      last_byte_ms = ClockMilliseconds();
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
  return pending_length == sizeof pending || ClockMilliseconds() - last_byte_ms >= kLoneEscMs;
}

}  // namespace

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
    const bool pressed = key.status == DecodeStatus::kKey && key.event.key_down;
    if (pressed && key.event.character == platform::kEscCharacter) return true;
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

uint64_t LoneEscWaitMs() {
  const uint64_t quiet = ClockMilliseconds() - last_byte_ms;
  return quiet >= kLoneEscMs ? 0 : kLoneEscMs - quiet;
}


bool KeysPending() { return pending_length > 0; }

void ForgetKeys() {
  pending_length = 0;
  has_peeked = false;
}

bool PeekKeyPress(platform::KeyEvent* event) {
  if (!DecodeNext()) return false;
  *event = peeked.event;
  return true;
}

void RemoveKeyPress() {
  if (!has_peeked) return;
  DropPending(peeked.consumed);
  has_peeked = false;
}
