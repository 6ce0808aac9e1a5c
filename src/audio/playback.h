// Playing one file once through media command strings.
#pragma once

#include <cstdint>

#include "text/text.h"

constexpr int32_t kPlayedToEnd = 0;
constexpr int32_t kStoppedByEsc = -1;
constexpr int32_t kOpenFailed = 2;

// Opens, plays and closes the file named by `quoted_name` (the name in
// double quotes), polling the mode and the keyboard until the sound ends or
// Esc is pressed. A failed open prints the device error line and closes
// nothing. Returns kPlayedToEnd, kStoppedByEsc or kOpenFailed.
int32_t PlayAudioFile(const Text& quoted_name);

// Waits up to `timeout_ms` for Esc, polling the keyboard as playback does.
// Returns true when Esc was pressed.
bool WaitForEsc(uint32_t timeout_ms);
