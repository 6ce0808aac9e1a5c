#include "platform/posix/files/letter_case.h"

#include <locale.h>
#include <wctype.h>

#include <cstdint>
#include <cstring>

#include "platform/posix/utf8.h"

namespace {

constexpr char32_t kFirstNonAscii = 0x80;
// A byte of a name that is not UTF-8 orders past every code point.
constexpr char32_t kPastCodePoints = 0x110000;

char32_t UpperAscii(char32_t c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

locale_t FoldingLocale() {
  static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return locale;
}

// The lower case of the upper case, so that the long s and "s", or final
// and plain sigma, fold alike as Unicode's simple case folding has them.
char32_t FoldCase(char32_t code) {
  if (code < kFirstNonAscii) return LowerAscii(code);
  // Turkish dotted and dotless i have no simple folding: they stay apart
  // from "i", to which their upper or lower case would lead.
  if (code == 0x130 || code == 0x131) return code;
  const locale_t locale = FoldingLocale();
  return static_cast<char32_t>(towlower_l(towupper_l(static_cast<wint_t>(code), locale), locale));
}

char32_t OrderKey(NameCharacter character, bool unicode) {
  const char32_t folded = character.folded;
  if (folded < kFirstNonAscii) return UpperAscii(folded);
  if (!unicode) return kPastCodePoints + folded;
  return static_cast<char32_t>(towupper_l(static_cast<wint_t>(folded), FoldingLocale()));
}

// How many bytes two names start with that are ASCII and alike but for
// case. Names that part at two ASCII bytes, or where one of them ends, part
// there under either rule: both have the same characters up to it.
size_t CommonAsciiStart(std::string_view first, std::string_view second) {
  size_t at = 0;
  while (at < first.size() && at < second.size()) {
    const auto a = static_cast<unsigned char>(first[at]);
    const auto b = static_cast<unsigned char>(second[at]);
    if (a >= kFirstNonAscii || b >= kFirstNonAscii || LowerAscii(a) != LowerAscii(b)) break;
    ++at;
  }
  return at;
}

bool IsAsciiAt(std::string_view name, size_t at) {
  return static_cast<unsigned char>(name[at]) < kFirstNonAscii;
}

}  // namespace

size_t AsciiStart(std::string_view name) {
  // Most names are ASCII: eight bytes at a time up to a byte past it.
  size_t at = 0;
  for (uint64_t word = 0; at + sizeof(word) <= name.size(); at += sizeof(word)) {
    std::memcpy(&word, name.data() + at, sizeof(word));
    if ((word & 0x8080808080808080) != 0) break;
  }
  while (at < name.size() && static_cast<unsigned char>(name[at]) < kFirstNonAscii) ++at;
  return at;
}

bool HasUnicodeLetters(std::string_view name) {
  if (FoldingLocale() == locale_t{}) return false;
  for (size_t at = AsciiStart(name); at < name.size();) {
    if (static_cast<unsigned char>(name[at]) < kFirstNonAscii) {
      ++at;
      continue;
    }
    const size_t length = DecodeUtf8(name, at).length;
    if (length == 0) return false;
    at += length;
  }
  return true;
}

NameCharacter ReadUnicodeCharacter(std::string_view name, size_t at) {
  const Utf8Character decoded = DecodeUtf8(name, at);
  if (decoded.length == 0) return {0, 0};
  return {FoldCase(decoded.code), decoded.length};
}

bool SameLetters(std::string_view first, std::string_view second, bool unicode) {
  size_t a = 0;
  size_t b = 0;
  while (a < first.size() && b < second.size()) {
    const NameCharacter x = ReadNameCharacter(first, a, unicode);
    const NameCharacter y = ReadNameCharacter(second, b, unicode);
    if (x.length == 0 || y.length == 0 || x.folded != y.folded) return false;
    a += x.length;
    b += y.length;
  }
  return a == first.size() && b == second.size();
}

bool EqualsIgnoringCase(std::string_view first, std::string_view second) {
  const size_t at = CommonAsciiStart(first, second);
  if (at == first.size() || at == second.size()) return first.size() == second.size();
  if (IsAsciiAt(first, at) && IsAsciiAt(second, at)) return false;
  // Bytes alike but for ASCII case are alike under either rule.
  if (SameLetters(first, second, false)) return true;
  return HasUnicodeLetters(first) && HasUnicodeLetters(second) && SameLetters(first, second, true);
}

bool ComesBeforeIgnoringCase(std::string_view first, std::string_view second) {
  const size_t at = CommonAsciiStart(first, second);
  if (at == first.size() || at == second.size()) {
    return first.size() == second.size() ? first < second : at == first.size();
  }
  if (IsAsciiAt(first, at) && IsAsciiAt(second, at)) {
    return UpperAscii(static_cast<unsigned char>(first[at])) <
           UpperAscii(static_cast<unsigned char>(second[at]));
  }
  const bool first_unicode = HasUnicodeLetters(first);
  const bool second_unicode = HasUnicodeLetters(second);
  size_t a = 0;
  size_t b = 0;
  while (a < first.size() && b < second.size()) {
    const NameCharacter x = ReadNameCharacter(first, a, first_unicode);
    const NameCharacter y = ReadNameCharacter(second, b, second_unicode);
    const char32_t x_key = OrderKey(x, first_unicode);
    const char32_t y_key = OrderKey(y, second_unicode);
    if (x_key != y_key) return x_key < y_key;
    a += x.length;
    b += y.length;
  }
  // Of two names alike as far as the shorter goes, the shorter first.
  const bool first_left = a < first.size();
  if (first_left != (b < second.size())) return !first_left;
  return first < second;
}
