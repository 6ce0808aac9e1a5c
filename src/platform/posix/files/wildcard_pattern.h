// The wildcard matcher of the directory search (file_search.cpp).
#pragma once

#include <cstddef>
#include <string_view>

// A pattern matched against names as a Windows search matches them,
// regardless of letter case: "*" any run of characters, "?" any one
// character (or none at the end of the name or before a dot), and a dot
// followed only by wildcards also matches the end of a name without one, so
// "*.*" matches every name. Where both the pattern and a name are valid UTF-8
// a character is a code point, elsewhere a byte (letter_case.h). Names longer
// than 319 bytes, more than a directory entry can have, never match. The
// pattern is looked at once, so that matching each entry of a large folder
// allocates nothing and turns most names away after a look at their end.
// Refers to `pattern`, which must outlive it.
class WildcardPattern {
 public:
  explicit WildcardPattern(std::string_view pattern);
  bool Matches(std::string_view name) const;

 private:
  // False for some names that cannot match, never for one that can.
  bool EndsLikeTail(std::string_view name) const;
  // The pattern's characters are code points when `unicode`, the name's
  // when kMultibyteName (an ASCII name's bytes are its characters anyway).
  template <bool kMultibyteName>
  bool Walk(std::string_view name, bool unicode) const;

  std::string_view pattern_;
  // The plain characters every matching name ends with.
  std::string_view tail_;
  size_t tail_characters_;
  bool tail_ascii_;
  size_t last_plain_;
  bool unicode_;
  bool matches_every_name_;
};
