// Whatever the command line holds, the program answers with the usage text,
// "File not found: " or a found file, and never crashes, hangs or writes to
// standard error. Random cases come from a fixed seed, so a failure repeats.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

using Args = std::vector<std::string>;

// Stop a suite after this many bad outcomes; they tend to share one cause.
constexpr int kMaxReported = 5;

std::string Printable(const Args& args) {
  static const char kHex[] = "0123456789abcdef";
  std::string shown;
  for (const std::string& arg : args) {
    shown += " [";
    if (arg.size() > 80) {
      shown += std::to_string(arg.size()) + " bytes starting ";
    }
    for (unsigned char c : arg.substr(0, 80)) {
      if (c >= 0x20 && c < 0x7f && c != '\\') {
        shown += static_cast<char>(c);
      } else {
        shown += std::string("\\x") + kHex[c >> 4] + kHex[c & 15];
      }
    }
    shown += "]";
  }
  return shown;
}

// Quiet when some argument is a "/Q" option: an argument that starts with
// "/" and q in either case and holds no other "/". Every other "/" on the
// command line turns into "\", so no "/Q" can come from anywhere else.
bool Quiet(const Args& args) {
  for (const std::string& arg : args) {
    if (arg.size() >= 2 && arg[0] == '/' && (arg[1] == 'q' || arg[1] == 'Q') &&
        arg.find('/', 1) == std::string::npos) {
      return true;
    }
  }
  return false;
}

// Empty when the run ended in one of the three allowed ways, else what went wrong.
std::string JudgeOutcome(const Args& args, const ProcessResult& r) {
  if (!r.started || r.timed_out || r.signal != 0) return Describe(r);
  if (!r.err.empty()) return "wrote to standard error: " + r.err;
  std::string body = r.out;
  const bool quiet = Quiet(args);
  if (TakeHeader(body) == quiet) return quiet ? "header although quiet" : "no header";
  if (r.exit_code == 1) {
    if (body == kUsage) return "";
    const std::string missing = "File not found: ";
    if (body.compare(0, missing.size(), missing) == 0 && body.size() >= missing.size() + 2 &&
        body.compare(body.size() - 2, 2, "\r\n") == 0) {
      return "";
    }
    return "exit code 1 without usage or missing-file line: " + r.out;
  }
  if (r.exit_code != 0) return Describe(r);
  // A found file on a machine without sound: device error lines only.
  size_t errors_at = 0;
  std::string tail;
  if (!quiet) {
    const std::string playing = "Playing \"";
    errors_at = body.find(kErrorStart);
    if (body.compare(0, playing.size(), playing) != 0 || errors_at == std::string::npos) {
      return "exit code 0 without a progress line: " + r.out;
    }
    tail = "\r\n";
  }
  std::string rest = body.substr(errors_at);
  const int count = CountErrorLines(rest, 0);
  std::string expected;
  for (int i = 0; i < count; ++i) expected += kErrorMark;
  std::string why;
  if (count == 0 || !MatchesOutput(rest, expected + tail, &why)) {
    return "exit code 0, but not played: " + r.out;
  }
  return "";
}

class BadInputTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_FALSE(empty_.path().empty());
    ASSERT_TRUE(dir_.AddSound("ding.wav"));
    ASSERT_TRUE(dir_.AddSound("sub/ding.wav"));
  }

  // Runs each command line in `working_dir` and fails for each bad outcome.
  void CheckAll(const std::vector<Args>& cases, const std::string& working_dir) {
    int reported = 0;
    for (const Args& args : cases) {
      ProcessOptions options;
      options.args = args;
      options.working_dir = working_dir;
      options.timeout_ms = 5000;
      WithoutSound(options, dir_);
      const std::string problem = JudgeOutcome(args, RunProcess(options));
      if (problem.empty()) continue;
      ADD_FAILURE() << "peldo" << Printable(args) << ": " << problem;
      if (++reported == kMaxReported) return;
    }
  }

  ScratchDir dir_;
  ScratchDir empty_;
  std::mt19937 random_{20240611};  // mt19937's output is the same everywhere

  uint32_t Below(uint32_t limit) { return static_cast<uint32_t>(random_() % limit); }
};

TEST_F(BadInputTest, RandomBytes) {
  std::vector<Args> cases;
  for (int i = 0; i < 200; ++i) {
    Args args(1 + Below(4));
    for (std::string& arg : args) {
      arg.resize(Below(41));
      for (char& c : arg) c = static_cast<char>(1 + Below(255));  // argv holds no zero byte
    }
    cases.push_back(args);
  }
  CheckAll(cases, dir_.path());
}

// Option letters, numbers in every notation and the name's own characters,
// mixed. Run where nothing can be found: a negative or overflowing repeat
// count with a found file would play forever.
TEST_F(BadInputTest, RandomOptionsAndNumbers) {
  static const std::string kAlphabet = "qQrRvV0123456789.-+&HhOoBbEeDd%?\"* ding.wav";
  std::vector<Args> cases;
  for (int i = 0; i < 200; ++i) {
    Args args(1 + Below(4));
    for (std::string& arg : args) {
      // GCC 12 at -O3 takes the copy inside this assignment, once inlined,
      // for an overlapping memcpy (GCC bug 105651).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"  // the next line is for clang
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wrestrict"
      if (Below(2) == 0) arg = "/";
#pragma GCC diagnostic pop
      const uint32_t length = Below(16);
      for (uint32_t k = 0; k < length; ++k) arg += kAlphabet[Below(kAlphabet.size())];
    }
    cases.push_back(args);
  }
  CheckAll(cases, empty_.path());
}

TEST_F(BadInputTest, LongLines) {
  CheckAll(
      {
          {std::string(10000, 'a')},
          {std::string(10000, 'a') + ".wav"},
          {"nosuch", "/r" + std::string(9998, '9')},
          {"ding", "/v" + std::string(9998, '9')},
          {std::string(10000, '/')},
          {std::string(10000, '\\')},
          {std::string(10000, '"')},
          {std::string(10000, '*')},
          {std::string(10000, ' ')},
          Args(5000, "a"),
          Args(5000, "/"),
          {std::string(300, 'x')},
          {std::string(300, 'x') + ".wav"},
          {std::string(300, 'x') + ".wav", "/q"},
          {std::string(255, 'x') + ".wav"},
      },
      dir_.path());
}

TEST_F(BadInputTest, PathsOfManyParts) {
  std::string deep;
  std::string dots;
  for (int i = 0; i < 150; ++i) deep += "d/";
  for (int i = 0; i < 100; ++i) dots += "../";
  CheckAll({{deep}, {deep + "ding"}, {dots + "ding"}, {dots}, {"sub/../sub/./ding"}, {"sub//ding"},
            {"/"}, {"//"}, {"\\"}, {"\\\\"}, {":"}, {"C:\\ding"}, {"sub\\"}, {"nosub\\"}, {"."},
            {".."}, {"..."}},
           dir_.path());
}

TEST_F(BadInputTest, QuotesWildcardsAndControlBytes) {
  CheckAll(
      {
          {""},
          {"\""},
          {"\"\"\""},
          {"\"a\"b\"c"},
          {"'ding'"},
          {"\"/q\""},
          {"\"ding", "/q\""},
          {"*"},
          {"?"},
          {"*.*"},
          {"*/"},
          {"**"},
          {"?*?.w?v"},
          {"*", "/r2"},
          {"[a-z]*"},
          {"sub/*"},
          {"\x01"},
          {"\x1b[2J\x1b[H"},
          {"\t\t"},
          {"a\r\nb"},
          {"ding\r"},
          {"\x7f"},
          {"\xff\xfe\x80"},
          {"\x87\x81\xa4"},
          {"\x08\x08"},
          {"\x1b", "/q"},
          {"%s%n%x"},
          {"ding", "/v-0"},
          {"ding", "/v99999999999"},
          {"ding", "/v1e9999"},
          {"ding", "/r&H"},
          {"ding", "/r&"},
          {"ding", "/r1D2"},
          {"/r", "/v", "/q"},
          {"/Q/R/V"},
      },
      dir_.path());
}

}  // namespace
}  // namespace e2e
