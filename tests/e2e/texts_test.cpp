// The exact bytes the program writes for a command line, and its exit code,
// run in a directory of sample files on a machine without sound: a file
// that is found gives the progress line with a device error line per play.
#include <sys/stat.h>

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/e2e_support.h"

namespace e2e {
namespace {

// A name of 126 characters that exists: quoted, it fills the 127-character
// name buffer, which keeps the opening quote and loses the closing one.
const std::string kLongName = std::string(122, 'n') + ".wav";

struct TextCase {
  const char* name;
  std::vector<std::string> args;
  bool header;
  std::string body;  // after the header; kErrorMark ("{ERR}") for a device error line
  int exit_code;
};

// Test names carry the case's name; this keeps gtest from listing its bytes.
void PrintTo(const TextCase& c, std::ostream* out) { *out << c.name; }

const TextCase kTextCases[] = {
    {"NoArgumentGivesHeaderAndUsage", {}, true, kUsage, 1},
    {"QuietAloneGivesUsageWithoutHeader", {"/Q"}, false, kUsage, 1},
    {"QuietInLowerCase", {"/q"}, false, kUsage, 1},
    {"BlankArgumentIsNoName", {"  "}, true, kUsage, 1},
    {"VolumeWithoutNameGivesUsage", {"/V50"}, true, kUsage, 1},
    {"OnlyDoubleQuotesIsNoName", {"\"\""}, true, kUsage, 1},
    {"OptionBeforeNameLeavesNameEmpty", {"/r2", "ding"}, true, kUsage, 1},
    {"HelpAloneGivesWhatNoArgumentGivesButSucceeds", {"--help"}, true, kUsage, 0},
    {"VersionAloneGivesNameAndMakerLines", {"--version"}, false,
     kHeader.substr(0, kHeader.size() - 2), 0},
    {"HelpWithMoreAfterItIsAName", {"--help", "/q"}, false, "File not found: --help.WAV\r\n", 1},
    {"LongerWordIsAName", {"--helpme"}, true, "File not found: --helpme.WAV\r\n", 1},

    {"MissingNameGetsWavExtension", {"nosuch"}, true, "File not found: nosuch.WAV\r\n", 1},
    {"MissingFileReportedWhenQuiet", {"nosuch", "/q"}, false, "File not found: nosuch.WAV\r\n", 1},
    {"MissingFileWithVolume", {"nosuch", "/V50"}, true, "File not found: nosuch.WAV\r\n", 1},
    {"NameWithDotKeepsTrailingBlank", {"nosuch.wav", "/q"}, false, "File not found: nosuch.wav \r\n", 1},
    {"QuoteBeforeOptionIsKept", {"\"my song.wav\"", "/q"}, false,
     "File not found: my song.wav\" \r\n", 1},
    {"MissingDirectoryInPath", {"nodir/ding"}, true, "File not found: nodir\\ding.WAV\r\n", 1},
    {"DirectoryIsNotAFile", {"folder"}, true, "File not found: folder.WAV\r\n", 1},
    {"HiddenFileIsNotFound", {".hidden.wav"}, true, "File not found: .hidden.wav\r\n", 1},
    {"FifoIsNotFoundAndNeverOpened", {"fifo.wav"}, true, "File not found: fifo.wav\r\n", 1},

    {"FoundFilePlaysOnce", {"ding"}, true, "Playing \"ding.WAV\"{ERR}\r\n", 0},
    {"RepeatTwicePlaysTwice", {"ding", "/r2"}, true, "Playing \"ding.WAV\" 2 times{ERR}{ERR}\r\n", 0},
    {"RepeatInCapitals", {"ding", "/R3"}, true,
     "Playing \"ding.WAV\" 3 times{ERR}{ERR}{ERR}\r\n", 0},
    {"RepeatZeroPlaysOnce", {"ding", "/r0"}, true, "Playing \"ding.WAV\"{ERR}\r\n", 0},
    {"RepeatWithoutNumberPlaysOnce", {"ding", "/R"}, true, "Playing \"ding.WAV\"{ERR}\r\n", 0},
    {"RepeatTieRoundsToEven", {"ding", "/r2.5"}, true,
     "Playing \"ding.WAV\" 2 times{ERR}{ERR}\r\n", 0},
    {"RepeatInHexadecimal", {"ding", "/r&H3"}, true,
     "Playing \"ding.WAV\" 3 times{ERR}{ERR}{ERR}\r\n", 0},
    {"QuietShowsOnlyErrorLine", {"ding", "/q"}, false, "{ERR}", 0},
    {"QuietWordCountsAsQuiet", {"ding", "/QUIET", "/r2"}, false, "{ERR}{ERR}", 0},
    {"VolumeOptionStillPlays", {"ding", "/v50"}, true, "Playing \"ding.WAV\"{ERR}\r\n", 0},
    {"UpperCaseNameFindsLowerCaseFile", {"DING"}, true, "Playing \"DING.WAV\"{ERR}\r\n", 0},
    {"TrailingBlankBeforeOptionIgnored", {"ding.wav", "/r2"}, true,
     "Playing \"ding.wav\" 2 times{ERR}{ERR}\r\n", 0},
    {"QuotedNameWithBlank", {"\"my song.wav\""}, true, "Playing \"my song.wav\"{ERR}\r\n", 0},
    {"NameInTwoArguments", {"my", "song.wav"}, true, "Playing \"my song.wav\"{ERR}\r\n", 0},
    {"SlashInPathBecomesBackslash", {"sub/ding"}, true, "Playing \"sub\\ding.WAV\"{ERR}\r\n", 0},
    {"BackslashPathWorksToo", {"SUB\\Ding"}, true, "Playing \"SUB\\Ding.WAV\"{ERR}\r\n", 0},
    {"WildcardFindsAFile", {"*.wav"}, true, "Playing \"*.wav\"{ERR}\r\n", 0},
    {"TrailingSlashSearchesWholeDirectory", {"./sub/"}, true, "Playing \".\\sub\\\"{ERR}\r\n", 0},
    {"LongNameLosesClosingQuote", {kLongName}, true, "Playing \"" + kLongName + "{ERR}\r\n", 0},
};

class TextsTest : public testing::TestWithParam<TextCase> {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(dir_.AddSound("ding.wav"));
    ASSERT_TRUE(dir_.AddSound("my song.wav"));
    ASSERT_TRUE(dir_.AddSound("sub/ding.wav"));
    ASSERT_TRUE(dir_.AddSound(".hidden.wav"));
    ASSERT_TRUE(dir_.AddSound(kLongName));
    ASSERT_TRUE(std::filesystem::create_directory(dir_ / "folder.wav"));
    ASSERT_EQ(mkfifo((dir_ / "fifo.wav").c_str(), 0644), 0);
  }

  ScratchDir dir_;
};

TEST_P(TextsTest, WritesExactBytes) {
  const TextCase& c = GetParam();
  ProcessOptions options;
  options.args = c.args;
  options.working_dir = dir_.path();
  WithoutSound(options, dir_);

  ProcessResult r = RunProcess(options);

  EXPECT_TRUE(r.ExitedWith(c.exit_code)) << Describe(r);
  EXPECT_EQ(r.err, "");
  std::string body = r.out;
  EXPECT_EQ(TakeHeader(body), c.header) << r.out;
  std::string why;
  EXPECT_TRUE(MatchesOutput(body, c.body, &why)) << why << "\nactual:\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(CommandLines, TextsTest, testing::ValuesIn(kTextCases),
                         [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

// Endless repeats of a file the device cannot open: the program keeps
// trying, one error line per try, but at a calm pace rather than flooding
// the screen. Only a kill ends it here (Esc needs a terminal).
TEST(EndlessTest, FailingOpenRetriesCalmly) {
  ScratchDir dir;
  ASSERT_TRUE(dir.AddSound("ding.wav"));
  ProcessOptions options;
  options.args = {"ding", "/r-1"};
  options.working_dir = dir.path();
  options.timeout_ms = 2500;
  WithoutSound(options, dir);

  ProcessResult r = RunProcess(options);

  EXPECT_TRUE(r.timed_out) << Describe(r);
  EXPECT_EQ(r.err, "");
  std::string body = r.out;
  ASSERT_TRUE(TakeHeader(body)) << r.out;
  const std::string progress = "Playing \"ding.WAV\" until ESC is pressed";
  ASSERT_EQ(body.compare(0, progress.size(), progress), 0) << r.out;
  const int tries = CountErrorLines(body, progress.size());
  EXPECT_GE(tries, 1);
  EXPECT_LE(tries, 5) << "more than two tries a second";
}

}  // namespace
}  // namespace e2e
