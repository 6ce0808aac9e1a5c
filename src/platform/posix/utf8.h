// UTF-8 read one character at a time, the one way the program does it: file
// names compared regardless of case (files/letter_case.cpp) and the texts
// the sound server is sent (sound/server/).
#pragma once

#include <cstddef>
#include <string_view>

// One character: its code point and its length in bytes.
struct Utf8Character {
  char32_t code;
  size_t length;
};

// The character that starts at byte `at` (< bytes.size()) of `bytes`; length
// 0 where none validly starts: a byte that only continues one, an overlong
// form, a surrogate, a value past U+10FFFF or a cut sequence. Inline: a
// folder's names are read one character at a time.
inline Utf8Character DecodeUtf8(std::string_view bytes, size_t at) {
  const auto lead = static_cast<unsigned char>(bytes[at]);
  if (lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
  if (length == 0 || lead > 0xF4 || bytes.size() - at < length) return {0, 0};
  char32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(bytes[at + i]);
    if ((next & 0xC0) != 0x80) return {0, 0};
    code = code << 6 | (next & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kLeast[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return {0, 0};
  return {code, length};
}
