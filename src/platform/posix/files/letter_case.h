// File names regardless of letter case, as Windows compares them. Where a
// name is valid UTF-8 a character is a code point, and letters are compared
// by Unicode simple case folding from the C library's C.UTF-8 locale, made
// once and never the user's, so the user's settings do not change which file
// a name finds. In a name that is not valid UTF-8, or on a system without
// that locale, a character is a byte and only ASCII letters have two cases.
// Nothing here allocates, except that locale once.
#pragma once

#include <cstddef>
#include <string_view>

// An ASCII capital in lower case; any other character as it is.
constexpr char32_t LowerAscii(char32_t c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// One character of a name: its letter with case folded away, and its length
// in bytes (0 where no valid character starts).
struct NameCharacter {
  char32_t folded;
  size_t length;
};

// How many bytes `name` starts with that are ASCII.
size_t AsciiStart(std::string_view name);

// Whether `name`'s characters are code points: it is valid UTF-8 and the
// locale that folds them exists.
bool HasUnicodeLetters(std::string_view name);

// The code point that starts at byte `at` of `name`, a byte past ASCII.
NameCharacter ReadUnicodeCharacter(std::string_view name, size_t at);

// The character that starts at byte `at` (< name.size()) of `name`: a code
// point when `unicode`, else one byte. Inline: a folder's names are matched
// one character at a time.
inline NameCharacter ReadNameCharacter(std::string_view name, size_t at, bool unicode) {
  const auto lead = static_cast<unsigned char>(name[at]);
  if (lead >= 0x80 && unicode) return ReadUnicodeCharacter(name, at);
  return {LowerAscii(lead), 1};
}

// Whether the two runs of characters are the same regardless of case, both
// read as code points when `unicode`; false when one of them then holds a
// byte that starts no valid character.
bool SameLetters(std::string_view first, std::string_view second, bool unicode);

// The same for two whole names, each valid UTF-8 or not.
bool EqualsIgnoringCase(std::string_view first, std::string_view second);

// Name order regardless of letter case, the order Windows lists a folder in:
// letters compare as capitals, so "_" comes after them; case decides only
// between names that are otherwise equal. The bytes of a name that is not
// valid UTF-8 come after every code point.
bool ComesBeforeIgnoringCase(std::string_view first, std::string_view second);
