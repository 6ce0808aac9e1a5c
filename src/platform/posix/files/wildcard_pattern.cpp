#include "platform/posix/files/wildcard_pattern.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>

#include "platform/posix/files/letter_case.h"

namespace {

// A byte that continues a UTF-8 character rather than starting one.
bool IsInsideCharacter(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The places in a name that the part of a pattern read so far can reach:
// bit j stands for "name[0, j) is matched". Names can be a little longer
// than any directory entry's.
class Positions {
 public:
  bool Empty() const {
    for (uint64_t word : words_) {
      if (word != 0) return false;
    }
    return true;
  }
  bool Has(size_t position) const { return (words_[position / 64] >> (position % 64) & 1) != 0; }
  void Add(size_t position) { words_[position / 64] |= uint64_t{1} << (position % 64); }
  // Adds every position from the first one held up to `last`.
  void FillFromFirst(size_t last) {
    size_t word = 0;
    while (word < kWords && words_[word] == 0) ++word;
    if (word == kWords) return;
    words_[word] |= ~uint64_t{0} << std::countr_zero(words_[word]);
    while (++word < kWords) words_[word] = ~uint64_t{0};
    // Nothing past the end of the name.
    words_[last / 64] &= ~uint64_t{0} >> (63 - last % 64);
    for (word = last / 64 + 1; word < kWords; ++word) words_[word] = 0;
  }
  template <typename Visit>
  void ForEach(Visit visit) const {
    for (size_t word = 0; word < kWords; ++word) {
      for (uint64_t bits = words_[word]; bits != 0; bits &= bits - 1) {
        visit(word * 64 + static_cast<size_t>(std::countr_zero(bits)));
      }
    }
  }

  static constexpr size_t kNameLimit = 319;

 private:
  static constexpr size_t kWords = (kNameLimit + 1 + 63) / 64;
  std::array<uint64_t, kWords> words_{};
};

}  // namespace

WildcardPattern::WildcardPattern(std::string_view pattern)
    : pattern_(pattern),
      last_plain_(pattern.find_last_not_of("*?")),
      unicode_(HasUnicodeLetters(pattern)) {
  // "*", "*.*": stars with at most one dot among them.
  matches_every_name_ = pattern.starts_with('*') &&
                        pattern.find_first_not_of("*.") == std::string_view::npos &&
                        std::count(pattern.begin(), pattern.end(), '.') <= 1;
  // The plain characters after the last wildcard each match one character
  // at the end of the name, unless the last of them is a dot.
  const size_t last_wildcard = pattern.find_last_of("*?");
  tail_ = last_wildcard == std::string_view::npos ? pattern : pattern.substr(last_wildcard + 1);
  if (!tail_.empty() && tail_.back() == '.') tail_ = {};
  tail_characters_ = static_cast<size_t>(
      std::count_if(tail_.begin(), tail_.end(), [](char c) { return !IsInsideCharacter(c); }));
  tail_ascii_ = std::all_of(tail_.begin(), tail_.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool WildcardPattern::EndsLikeTail(std::string_view name) const {
  // Byte for byte from the end: the rule for a pattern that is not UTF-8,
  // and for an ASCII tail as far as the name ends in ASCII characters.
  if (!unicode_ || tail_ascii_) {
    size_t back = 0;
    for (; back < tail_.size() && back < name.size(); ++back) {
      const char c = name[name.size() - 1 - back];
      if (unicode_ && static_cast<unsigned char>(c) >= 0x80) break;
      if (LowerAscii(c) != LowerAscii(tail_[tail_.size() - 1 - back])) return false;
    }
    if (back == tail_.size()) return true;
    if (back == name.size()) return false;
  }
  // A letter may fold to one of another length (the long s to "s"), so the
  // tail's characters are counted back from the end of the name. A name that
  // is not UTF-8 but matches the tail byte for byte splits as the tail does.
  size_t start = name.size();
  for (size_t counted = 0; counted < tail_characters_; ++counted) {
    if (start == 0) return false;
    --start;
    for (size_t back = 0; back < 3 && start > 0 && IsInsideCharacter(name[start]); ++back) --start;
  }
  return SameLetters(tail_, name.substr(start), true);
}

bool WildcardPattern::Matches(std::string_view name) const {
  if (name.size() > Positions::kNameLimit) return false;
  if (matches_every_name_) return true;
  // Turns most names in a large folder away before the walk below.
  if (!EndsLikeTail(name)) return false;
  // An ASCII name is UTF-8 with a byte to a character: the cheaper walk.
  if (AsciiStart(name) == name.size()) return Walk<false>(name, unicode_);
  if (unicode_ && HasUnicodeLetters(name)) return Walk<true>(name, true);
  return Walk<false>(name, false);
}

// All ways of matching are followed at once, one pattern character at a
// time: a "?" before a dot may match the dot or nothing, so a greedy matcher
// that keeps one way would miss some names. The cost stays linear in the
// pattern's length times the name's, with nothing allocated.
template <bool kMultibyteName>
bool WildcardPattern::Walk(std::string_view name, bool unicode) const {
  const size_t end = name.size();
  Positions reached;
  reached.Add(0);
  for (size_t i = 0, length = 1; i < pattern_.size() && !reached.Empty(); i += length) {
    const char p = pattern_[i];
    const NameCharacter wanted = ReadNameCharacter(pattern_, i, unicode);
    length = wanted.length;
    if (p == '*') {
      reached.FillFromFirst(end);
      continue;
    }
    Positions next;
    reached.ForEach([&](size_t j) {
      if (j == end) {
        // A dot with only wildcards after it also matches the end of a name.
        if (p == '?' || (p == '.' && i == last_plain_)) next.Add(j);
        return;
      }
      const NameCharacter n = ReadNameCharacter(name, j, kMultibyteName);
      // A star also reaches the bytes inside a character.
      if (n.length == 0) return;
      if (p == '?' || wanted.folded == n.folded) next.Add(j + n.length);
      if (p == '?' && name[j] == '.') next.Add(j);
    });
    reached = next;
  }
  return reached.Has(end);
}
