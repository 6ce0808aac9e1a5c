#include "console/key_events.h"

namespace {

using platform::kEscScanCode;
constexpr uint8_t kEsc = platform::kEscCharacter;

bool IsLetterRow(uint8_t scan) {
  return (scan >= 0x10 && scan <= 0x19) || (scan >= 0x1E && scan <= 0x26) ||
         (scan >= 0x2C && scan <= 0x32);
}

bool IsModifierKey(uint8_t scan) {
  switch (scan) {
    case 0x1D:  // Ctrl
    case 0x2A:  // left Shift
    case 0x36:  // right Shift
    case 0x38:  // Alt
    case 0x3A:  // CapsLock
    case 0x45:  // NumLock
    case 0x46:  // ScrollLock
      return true;
    default:
      return false;
  }
}

// The unshifted and shifted symbols of the US layout's digit and
// punctuation keys, by scan code; CapsLock swaps them for these keys only.
struct SymbolKey {
  uint8_t scan;
  char plain;
  char shifted;
};
constexpr SymbolKey kSymbolKeys[] = {
    {0x02, '1', '!'}, {0x03, '2', '@'},  {0x04, '3', '#'}, {0x05, '4', '$'}, {0x06, '5', '%'},
    {0x07, '6', '^'}, {0x08, '7', '&'},  {0x09, '8', '*'}, {0x0A, '9', '('}, {0x0B, '0', ')'},
    {0x0C, '-', '_'}, {0x0D, '=', '+'},  {0x1A, '[', '{'}, {0x1B, ']', '}'}, {0x27, ';', ':'},
    {0x28, '\'', '"'}, {0x29, '`', '~'}, {0x2B, '\\', '|'}, {0x33, ',', '<'}, {0x34, '.', '>'},
    {0x35, '/', '?'},
};

uint8_t AdjustForCapsLock(uint8_t character, uint8_t scan, uint32_t control_state) {
  if ((control_state & platform::kCapsLockOn) == 0) return character;
  if (scan == kEscScanCode) return kEsc;
  const bool shift = (control_state & platform::kShiftPressed) != 0;
  for (const SymbolKey& key : kSymbolKeys) {
    if (key.scan != scan) continue;
    if (shift && character == static_cast<uint8_t>(key.plain)) return static_cast<uint8_t>(key.shifted);
    if (!shift && character == static_cast<uint8_t>(key.shifted)) return static_cast<uint8_t>(key.plain);
  }
  return character;
}

Text TwoByteKeyText(uint8_t scan) {
  const char bytes[2] = {0, static_cast<char>(scan)};
  return Text::FromBytes(bytes, 2);
}

}  // namespace

Text KeyTextForEvent(const platform::KeyEvent& event, bool* is_press) {
  *is_press = true;
  const uint8_t c = event.character;
  const uint8_t s = event.scan_code;
  const bool alt = (event.control_state & (platform::kLeftAltPressed | platform::kRightAltPressed)) != 0;
  if (c != 0 && alt && IsLetterRow(s)) return TwoByteKeyText(s);
  if (c != 0) return CharText(AdjustForCapsLock(c, s, event.control_state));
  // Some consoles report the Esc key without its character; it is Esc all
  // the same, with CapsLock or without.
  if (s == kEscScanCode) return CharText(kEsc);
  if (IsModifierKey(s)) {
    *is_press = false;
    return Text();
  }
  return TwoByteKeyText(s);
}

Text PollKey() {
  platform::KeyEvent event;
  while (platform::PeekKeyEvent(&event)) {
    if (!event.is_key || !event.key_down) {
      platform::RemoveKeyEvent();
      continue;
    }
    bool is_press = false;
    Text key = KeyTextForEvent(event, &is_press);
    platform::RemoveKeyEvent();
    if (is_press) return key;
  }
  return Text();
}

int32_t CharCode(const Text& text) { return text.Length() == 0 ? -1 : text.ByteAt(1); }

bool EscPressed() { return CharCode(PollKey()) == kEsc; }
