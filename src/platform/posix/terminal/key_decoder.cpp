#include "platform/posix/terminal/key_decoder.h"

#include <cstring>

namespace {

constexpr uint8_t kEsc = platform::kEscCharacter;
using platform::kEscScanCode;

// Scan codes of keys that have no character.
constexpr uint8_t kUp = 0x48, kDown = 0x50, kLeft = 0x4B, kRight = 0x4D;
constexpr uint8_t kHome = 0x47, kEnd = 0x4F, kPageUp = 0x49, kPageDown = 0x51;
constexpr uint8_t kInsert = 0x52, kDelete = 0x53, kF1 = 0x3B, kF11 = 0x85, kF12 = 0x86;
constexpr uint8_t kKeypadCentre = 0x4C;

// The US layout: the characters of each key row, unshifted then shifted,
// starting at the row's first scan code.
struct KeyRow {
  uint8_t first_scan;
  const char* plain;
  const char* shifted;
};
constexpr KeyRow kRows[] = {
    {0x02, "1234567890-=", "!@#$%^&*()_+"},
    {0x10, "qwertyuiop[]", "QWERTYUIOP{}"},
    {0x1E, "asdfghjkl;'`", "ASDFGHJKL:\"~"},
    {0x2B, "\\zxcvbnm,./", "|ZXCVBNM<>?"},
};

platform::KeyEvent Press(uint8_t character, uint8_t scan, uint32_t state) {
  platform::KeyEvent event;
  event.is_key = true;
  event.key_down = true;
  event.character = character;
  event.scan_code = scan;
  event.control_state = state;
  return event;
}

DecodedKey Key(size_t consumed, platform::KeyEvent event) { return {DecodeStatus::kKey, consumed, event}; }
DecodedKey Skip(size_t consumed) { return {DecodeStatus::kSkipped, consumed, {}}; }
DecodedKey Incomplete() { return {DecodeStatus::kIncomplete, 0, {}}; }

// A key without a character, with the Alt and Shift bits of an xterm
// modifier parameter (1 + Shift 1 + Alt 2 + Ctrl 4).
DecodedKey Special(size_t consumed, uint8_t scan, int modifier) {
  uint32_t state = 0;
  if (modifier > 1) {
    if (((modifier - 1) & 1) != 0) state |= platform::kShiftPressed;
    if (((modifier - 1) & 2) != 0) state |= platform::kLeftAltPressed;
  }
  return Key(consumed, Press(0, scan, state));
}

// A plain byte as a key press: its character and the key that types it.
platform::KeyEvent CharacterPress(uint8_t character, uint32_t state) {
  bool shifted = false;
  const uint8_t scan = ScanCodeForCharacter(character, &shifted);
  if (shifted) state |= platform::kShiftPressed;
  return Press(character, scan, state);
}

uint8_t TildeKey(int number) {
  switch (number) {
    case 1: case 7: return kHome;
    case 2: return kInsert;
    case 3: return kDelete;
    case 4: case 8: return kEnd;
    case 5: return kPageUp;
    case 6: return kPageDown;
    case 11: case 12: case 13: case 14: case 15: return static_cast<uint8_t>(kF1 + number - 11);
    case 17: case 18: case 19: case 20: case 21: return static_cast<uint8_t>(kF1 + 5 + number - 17);
    case 23: return kF11;
    case 24: return kF12;
    default: return 0;
  }
}

uint8_t LetterKey(uint8_t final_byte) {
  switch (final_byte) {
    case 'A': return kUp;
    case 'B': return kDown;
    case 'C': return kRight;
    case 'D': return kLeft;
    case 'E': return kKeypadCentre;
    case 'H': return kHome;
    case 'F': return kEnd;
    case 'P': return kF1;
    case 'Q': return kF1 + 1;
    case 'R': return kF1 + 2;
    case 'S': return kF1 + 3;
    default: return 0;
  }
}

// ESC [ parameters intermediates final. `bytes` starts at the ESC.
DecodedKey DecodeCsi(const uint8_t* bytes, size_t length, bool no_more_coming) {
  size_t i = 2;
  // The Linux console's function keys: ESC [ [ A to E.
  if (i < length && bytes[i] == '[') {
    if (i + 1 >= length) return no_more_coming ? Skip(length) : Incomplete();
    const uint8_t letter = bytes[i + 1];
    if (letter >= 'A' && letter <= 'E') return Special(i + 2, static_cast<uint8_t>(kF1 + letter - 'A'), 1);
    return Skip(i + 2);
  }
  const size_t parameters_start = i;
  while (i < length && bytes[i] >= 0x30 && bytes[i] <= 0x3F) ++i;
  const size_t parameters_end = i;
  while (i < length && bytes[i] >= 0x20 && bytes[i] <= 0x2F) ++i;
  if (i >= length) return no_more_coming ? Skip(length) : Incomplete();
  const uint8_t final_byte = bytes[i];
  const size_t consumed = i + 1;
  if (final_byte < 0x40 || final_byte > 0x7E) return Skip(i);  // broken off: drop what came

  // Up to two numeric parameters: key number and modifier.
  int numbers[2] = {0, 0};
  int count = 0;
  bool private_marker = false;
  for (size_t p = parameters_start; p < parameters_end; ++p) {
    const uint8_t byte = bytes[p];
    if (byte >= '0' && byte <= '9') {
      if (count == 0) count = 1;
      if (count <= 2 && numbers[count - 1] < 10000) numbers[count - 1] = numbers[count - 1] * 10 + (byte - '0');
    } else if (byte == ';') {
      ++count;
      if (count == 1) count = 2;  // an empty first parameter
    } else {
      private_marker = true;  // '<', '?', '=', '>'
    }
  }
  const int modifier = count >= 2 ? numbers[1] : 1;

  if (final_byte == 'M' && parameters_end == parameters_start && !private_marker) {
    // An X10 mouse report carries three more bytes.
    if (consumed + 3 > length) return no_more_coming ? Skip(length) : Incomplete();
    return Skip(consumed + 3);
  }
  if (private_marker) return Skip(consumed);  // SGR mouse reports and the like
  if (final_byte == 'I' || final_byte == 'O') return Skip(consumed);  // focus in and out
  if (final_byte == '~') {
    if (numbers[0] == 200 || numbers[0] == 201) return Skip(consumed);  // pasted-text marks
    const uint8_t scan = TildeKey(numbers[0]);
    return scan == 0 ? Skip(consumed) : Special(consumed, scan, modifier);
  }
  if (final_byte == 'Z') return Key(consumed, Press('\t', 0x0F, platform::kShiftPressed));  // Shift+Tab
  const uint8_t scan = LetterKey(final_byte);
  return scan == 0 ? Skip(consumed) : Special(consumed, scan, modifier);
}

// ESC O final: cursor and F1 to F4 keys in application mode.
DecodedKey DecodeSs3(const uint8_t* bytes, size_t length, bool no_more_coming) {
  size_t i = 2;
  int modifier = 1;
  // Some terminals put a modifier digit in between: ESC O 5 P.
  if (i < length && bytes[i] >= '1' && bytes[i] <= '9') modifier = bytes[i++] - '0';
  if (i >= length) return no_more_coming ? Skip(length) : Incomplete();
  const uint8_t scan = LetterKey(bytes[i]);
  return scan == 0 ? Skip(i + 1) : Special(i + 1, scan, modifier);
}

}  // namespace

uint8_t ScanCodeForCharacter(uint8_t character, bool* shifted) {
  *shifted = false;
  switch (character) {
    case ' ': return 0x39;
    case '\t': return 0x0F;
    case '\r': case '\n': return 0x1C;
    case 0x08: case 0x7F: return 0x0E;  // Backspace
    case kEsc: return kEscScanCode;
    default: break;
  }
  // Ctrl with a letter types the letter's control code.
  if (character >= 1 && character <= 26) character = static_cast<uint8_t>('a' + character - 1);
  for (const KeyRow& row : kRows) {
    if (const char* at = std::strchr(row.plain, character); at != nullptr && character != 0) {
      return static_cast<uint8_t>(row.first_scan + (at - row.plain));
    }
    if (const char* at = std::strchr(row.shifted, character); at != nullptr && character != 0) {
      *shifted = true;
      return static_cast<uint8_t>(row.first_scan + (at - row.shifted));
    }
  }
  return 0;
}

DecodedKey DecodeKey(const uint8_t* bytes, size_t length, bool no_more_coming) {
  if (length == 0) return Incomplete();
  if (bytes[0] != kEsc) return Key(1, CharacterPress(bytes[0], 0));
  if (length == 1) {
    // An Esc with nothing after it is the Esc key once the terminal is quiet.
    return no_more_coming ? Key(1, Press(kEsc, kEscScanCode, 0)) : Incomplete();
  }
  if (bytes[1] == '[') return DecodeCsi(bytes, length, no_more_coming);
  if (bytes[1] == 'O') {
    if (length == 2 && no_more_coming) return Key(2, CharacterPress('O', platform::kLeftAltPressed));
    return DecodeSs3(bytes, length, no_more_coming);
  }
  // Esc before a character is that character with Alt held.
  return Key(2, CharacterPress(bytes[1], platform::kLeftAltPressed));
}
