// Wherever standard output goes (a pipe, a file, a pipe nobody reads, or
// nowhere), the program writes the same bytes when it can, never dies of
// it, keeps its exit code and says nothing on standard error.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

struct RunCase {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
};

const RunCase kRunCases[] = {
    {"usage", {}, 1},
    {"missing file", {"nosuch"}, 1},
    {"found file", {"ding", "/r2"}, 0},
    {"found file, quiet", {"ding", "/q"}, 0},
};

class OutputTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(dir_.AddSound("ding.wav"));
  }

  ProcessResult Run(const RunCase& c, Stdout mode, const std::string& file = "") {
    ProcessOptions options;
    options.args = c.args;
    options.working_dir = dir_.path();
    options.stdout_mode = mode;
    options.stdout_file = file;
    WithoutSound(options, dir_);
    return RunProcess(options);
  }

  // Each case's exit code, and nothing on standard error, whatever writing
  // its output does.
  void ExpectExitCodesKept(Stdout mode, const std::string& file = "") {
    for (const RunCase& c : kRunCases) {
      SCOPED_TRACE(c.name);
      const ProcessResult r = Run(c, mode, file);
      EXPECT_TRUE(r.ExitedWith(c.exit_code)) << Describe(r);
      EXPECT_EQ(r.err, "");
    }
  }

  ScratchDir dir_;
};

TEST_F(OutputTest, FileGetsSameBytesAsPipe) {
  for (const RunCase& c : kRunCases) {
    SCOPED_TRACE(c.name);
    const ProcessResult piped = Run(c, Stdout::kPipe);
    const std::string file = dir_ / "out.txt";
    const ProcessResult filed = Run(c, Stdout::kFile, file);

    EXPECT_TRUE(piped.ExitedWith(c.exit_code)) << Describe(piped);
    EXPECT_TRUE(filed.ExitedWith(c.exit_code)) << Describe(filed);
    EXPECT_FALSE(piped.out.empty());
    EXPECT_EQ(ReadWholeFile(file), piped.out);
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(filed.err, "");
  }
}

TEST_F(OutputTest, ReaderGoneKeepsExitCode) { ExpectExitCodesKept(Stdout::kReaderGone); }

// Every write fails with "no space left on device".
TEST_F(OutputTest, FailingWritesKeepExitCode) { ExpectExitCodesKept(Stdout::kFile, "/dev/full"); }

TEST_F(OutputTest, ClosedStdoutKeepsExitCode) { ExpectExitCodesKept(Stdout::kClosed); }

}  // namespace
}  // namespace e2e
