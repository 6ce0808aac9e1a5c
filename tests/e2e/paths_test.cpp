// Where the program looks for a file named by a path.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

// An absolute path names the file wherever the program runs; on the command
// line its slashes read as backslashes.
TEST(PathsTest, AbsolutePathFromElsewhere) {
  ScratchDir dir;
  ASSERT_TRUE(dir.AddSound("ding.wav"));
  ScratchDir elsewhere;
  ProcessOptions options;
  options.args = {dir / "ding", "/r2"};
  options.working_dir = elsewhere.path();
  WithoutSound(options, dir);

  ProcessResult r = RunProcess(options);

  std::string shown = dir / "ding.WAV";
  std::replace(shown.begin(), shown.end(), '/', '\\');
  EXPECT_TRUE(r.ExitedWith(0)) << Describe(r);
  EXPECT_EQ(r.err, "");
  std::string body = r.out;
  EXPECT_TRUE(TakeHeader(body));
  std::string why;
  EXPECT_TRUE(MatchesOutput(body, "Playing \"" + shown + "\" 2 times{ERR}{ERR}\r\n", &why))
      << why << "\nactual:\n" << r.out;
}

}  // namespace
}  // namespace e2e
