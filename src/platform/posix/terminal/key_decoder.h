// From the bytes a terminal sends to keyboard events.
//
// A terminal reports keys as bytes and escape sequences; the player wants key
// presses with a character, a PC scan code and the Alt and Shift state, as a
// console keyboard reports them. Cursor, editing and function keys become
// keys without a character, so they never read as Esc although their bytes
// begin with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

enum class DecodeStatus {
  kKey,         // `event` is one key press made of the first `consumed` bytes
  kSkipped,     // the first `consumed` bytes are no key (mouse, focus, paste marks)
  kIncomplete,  // the bytes may be the start of a sequence: wait for more
};

struct DecodedKey {
  DecodeStatus status = DecodeStatus::kIncomplete;
  size_t consumed = 0;
  platform::KeyEvent event;
};

// Decodes the first key in `bytes` (length > 0). With `no_more_coming` set,
// the bytes are all there will be for now (the terminal has been quiet for a
// while), so an Esc that stands alone is the Esc key and nothing is
// incomplete.
DecodedKey DecodeKey(const uint8_t* bytes, size_t length, bool no_more_coming);

// The US-layout scan code of the key that types `character`, and whether
// Shift is needed for it; 0 for characters no key types.
uint8_t ScanCodeForCharacter(uint8_t character, bool* shifted);
