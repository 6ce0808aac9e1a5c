// What the end-to-end tests share: the program's fixed texts and the ways
// to compare its output with them, a scratch directory per test, and the
// environment of a machine without sound.
#pragma once

#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "e2e/process.h"
#include "expected_texts.h"

#ifndef PELDO_SOURCE_DIR
#error "PELDO_SOURCE_DIR must name the source tree"
#endif

namespace e2e {

inline const std::string kSample = PELDO_SOURCE_DIR "/samples/ding.wav";

// If `out` begins with the three header lines, removes them and returns
// true. Line 2 is the maker's notice: any one line of printable ASCII.
inline bool TakeHeader(std::string& out) {
  if (out.compare(0, kHeaderLine1.size(), kHeaderLine1) != 0) return false;
  const size_t line2 = kHeaderLine1.size();
  const size_t end2 = out.find("\r\n", line2);
  if (end2 == std::string::npos || end2 == line2) return false;
  for (size_t i = line2; i < end2; ++i) {
    if (out[i] < 0x20 || out[i] > 0x7e) return false;
  }
  if (out.compare(end2 + 2, 2, "\r\n") != 0) return false;
  out.erase(0, end2 + 4);
  return true;
}

// Length of the device error line at `pos` in `out`, CR LF included; 0
// when none is there.
inline size_t ErrorLineAt(const std::string& out, size_t pos) {
  if (out.compare(pos, kErrorStart.size(), kErrorStart) != 0) return 0;
  const size_t eol = out.find("\r\n", pos);
  if (eol == std::string::npos) return 0;
  const size_t end = eol + 2 - kErrorEnd.size();
  if (end < pos + kErrorStart.size() || out.compare(end, kErrorEnd.size(), kErrorEnd) != 0) return 0;
  size_t digits = end;
  while (digits > pos && std::isdigit(static_cast<unsigned char>(out[digits - 1]))) --digits;
  if (digits == end || digits < pos + kErrorStart.size() + 2 || out.compare(digits - 2, 2, " (") != 0) {
    return 0;
  }
  for (size_t i = pos + kErrorStart.size(); i < digits - 2; ++i) {
    if (out[i] < 0x20 || out[i] > 0x7e) return 0;
  }
  return eol + 2 - pos;
}

// True when `out` is `expected` with each kErrorMark matched by one device
// error line. All error lines of one run must read the same. On a mismatch
// `why` says where.
inline bool MatchesOutput(const std::string& out, const std::string& expected, std::string* why) {
  size_t at = 0;
  size_t from = 0;
  std::string first_error;
  while (true) {
    const size_t marker = expected.find(kErrorMark, from);
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
    from = marker + kErrorMark.size();
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

// A fresh directory under the system's temporary directory, removed with
// everything in it when the test ends.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "peldo-e2e-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  // Puts a copy of the sample sound at `name` (a path inside the directory).
  bool AddSound(const std::string& name) const {
    std::error_code error;
    std::filesystem::path target = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(target.parent_path(), error);
    return std::filesystem::copy_file(kSample, target, error);
  }

 private:
  std::string path_;
};

// A run at a terminal of its own, in `dir`.
inline ProcessOptions AtTerminal(const ScratchDir& dir, std::vector<std::string> args) {
  ProcessOptions options;
  options.args = std::move(args);
  options.working_dir = dir.path();
  options.terminal = true;
  return options;
}

inline std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// No sound output can be reached, whatever the machine has: the sound
// server named does not exist, no runtime directory points at another one,
// and ALSA reads an empty configuration, so it knows no sound card either.
inline void WithoutSound(ProcessOptions& options, const ScratchDir& scratch) {
  const std::string empty_config = scratch / "empty-alsa.conf";
  std::ofstream{empty_config};
  options.unset.push_back("XDG_RUNTIME_DIR");
  options.unset.push_back("PULSE_RUNTIME_PATH");
  options.set.emplace_back("PULSE_SERVER", "unix:" + (scratch / "no-such-server"));
  options.set.emplace_back("ALSA_CONFIG_PATH", empty_config);
}

}  // namespace e2e
