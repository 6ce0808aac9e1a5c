// Comparing the program's output with an expected text in which "{ERR}"
// stands for one device error line, whose wording and number depend on the
// sound system: "  >> Error:" + description + " (" + digits + ") <<" CR LF.
#pragma once

#include <cctype>
#include <string>
#include <vector>

namespace e2e {

inline const std::string kErrorLine = "{ERR}";

// Length of the device error line at `pos` in `out`, with its CR LF; 0 when
// none is there.
inline size_t ErrorLineAt(const std::string& out, size_t pos) {
  static const std::string kStart = "  >> Error:";
  static const std::string kEnd = ") <<";
  if (out.compare(pos, kStart.size(), kStart) != 0) return 0;
  const size_t eol = out.find("\r\n", pos);
  if (eol == std::string::npos) return 0;
  const std::string line = out.substr(pos, eol - pos);
  if (line.size() < kStart.size() + kEnd.size() + 3) return 0;
  if (line.compare(line.size() - kEnd.size(), kEnd.size(), kEnd) != 0) return 0;
  size_t digits = line.size() - kEnd.size();
  const size_t last_digit = digits;
  while (digits > kStart.size() && std::isdigit(static_cast<unsigned char>(line[digits - 1]))) {
    --digits;
  }
  if (digits == last_digit || digits < kStart.size() + 2) return 0;
  if (line.compare(digits - 2, 2, " (") != 0) return 0;
  return eol + 2 - pos;
}

// True when `out` is `expected` with each "{ERR}" matched by one device
// error line. All error lines of one run must read the same. On a mismatch
// `why` says where.
inline bool MatchesOutput(const std::string& out, const std::string& expected, std::string* why) {
  size_t at = 0;
  size_t from = 0;
  std::string first_error;
  while (true) {
    const size_t marker = expected.find(kErrorLine, from);
    const std::string literal = expected.substr(from, marker == std::string::npos ? std::string::npos
                                                                                   : marker - from);
    if (out.compare(at, literal.size(), literal) != 0) {
      *why = "differs from byte " + std::to_string(at) + ": expected \"" + literal + "\"";
      return false;
    }
    at += literal.size();
    if (marker == std::string::npos) break;
    const size_t length = ErrorLineAt(out, at);
    if (length == 0) {
      *why = "no device error line at byte " + std::to_string(at);
      return false;
    }
    const std::string line = out.substr(at, length);
    if (first_error.empty()) first_error = line;
    if (line != first_error) {
      *why = "error lines differ: " + first_error + " / " + line;
      return false;
    }
    at += length;
    from = marker + kErrorLine.size();
  }
  if (at != out.size()) {
    *why = std::to_string(out.size() - at) + " unexpected bytes at the end";
    return false;
  }
  return true;
}

// Counts the device error lines that follow each other from `pos`.
inline int CountErrorLines(const std::string& out, size_t pos) {
  int count = 0;
  while (size_t length = ErrorLineAt(out, pos)) {
    pos += length;
    ++count;
  }
  return count;
}

}  // namespace e2e
