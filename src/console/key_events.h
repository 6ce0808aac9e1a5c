// Key polling: at most one key press per poll, never waiting.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "text/text.h"

// The key text of one key press: one byte for a key with a character, the
// two bytes 0 and the scan code for keys without one (and Alt with a letter),
// or the empty text for a key that is no key press on its own (modifiers).
// `is_press` is set false for such modifier keys.
Text KeyTextForEvent(const platform::KeyEvent& event, bool* is_press);
// Takes at most one key press off the keyboard queue, skipping releases and
// other events ahead of it; the empty text when none is pending.
Text PollKey();
// The first byte of `text` (0..255), or -1 for the empty text.
int32_t CharCode(const Text& text);
// Polls once; true when the key press taken begins with Esc (27).
bool EscPressed();
