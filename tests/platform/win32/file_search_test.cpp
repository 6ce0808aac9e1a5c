// The directory search against the real file system (Windows or Wine's).
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "platform/guarded_call.h"
#include "platform/platform.h"
#include "text/file_lookup.h"
#include "text_bytes.h"
#include "win32_support.h"

namespace {

using platform::kAttributeDirectory;
using platform::kAttributeHidden;
using platform::kAttributeSystem;

// Plain, hidden and system files and directories, with every
// wildcard search arranged so that only one plain file can match: the order
// of the entries is the file system's.
class FileSearchTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    for (const char* directory : {"x.wav", "mix", "mix\\sub.wav", "only", "only\\d.wav", "sounds"}) {
      ASSERT_TRUE(CreateDirectoryA((scratch_ / directory).c_str(), nullptr)) << directory;
    }
    for (const char* file : {"ding.wav", "Mixed.WAV", "hidden.wav", "system.wav", "mix\\Only.Wav",
                             "mix\\hid.wav", "only\\h.wav", "only\\s.wav", "sounds\\Bell.wav"}) {
      ASSERT_TRUE(win32_test::WriteWholeFile(scratch_ / file, "RIFF")) << file;
    }
    for (const char* file : {"hidden.wav", "mix\\hid.wav", "only\\h.wav"}) {
      ASSERT_TRUE(SetFileAttributesA((scratch_ / file).c_str(), FILE_ATTRIBUTE_HIDDEN));
    }
    for (const char* file : {"system.wav", "only\\s.wav"}) {
      ASSERT_TRUE(SetFileAttributesA((scratch_ / file).c_str(), FILE_ATTRIBUTE_SYSTEM));
    }
    ASSERT_TRUE(SetCurrentDirectoryA(scratch_.path().c_str()));
  }
  void TearDown() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    SetCurrentDirectoryA(temp);
  }

  win32_test::ScratchDirectory scratch_;
};

std::string Lookup(const std::string& pattern) {
  return ToString(FindFileName(ToText(pattern), 0));
}

TEST_F(FileSearchTest, FindsOnlyPlainVisibleFiles) {
  const struct {
    const char* why;
    std::string pattern;
    std::string expected;
  } cases[] = {
      {"exact name", "ding.wav", "ding.wav"},
      {"letters in another case give the stored name", "DING.WAV", "ding.wav"},
      {"stored capitals come back", "mixed.wav", "Mixed.WAV"},
      {"a directory is no file", "x.wav", ""},
      {"a file with the hidden attribute", "hidden.wav", ""},
      {"a file with the system attribute", "system.wav", ""},
      {"subdirectory", "SOUNDS\\bell.wav", "Bell.wav"},
      {"absolute path", scratch_ / "sounds\\Bell.wav", "Bell.wav"},
      {"missing directory", "nosuch\\ding.wav", ""},
      {"wildcard skips a directory and a hidden file", "mix\\*.WAV", "Only.Wav"},
      {"trailing backslash searches the whole directory", "mix\\", "Only.Wav"},
      {"only a directory, a hidden and a system file match", "only\\*.wav", ""},
      {"a directory of unacceptable entries", "only\\", ""},
      {"cut at 256 characters", std::string("ding.wav") + std::string(248, ' ') + "x", "ding.wav"},
      {"empty pattern", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Lookup(c.pattern), c.expected) << c.why;
}

TEST_F(FileSearchTest, ReportsEveryEntryWithItsAttributes) {
  platform::FindData data;
  const platform::SearchHandle search = platform::FindFirstEntry("mix\\*", &data);
  ASSERT_NE(search, platform::kInvalidSearch);
  std::map<std::string, uint32_t> seen;
  constexpr uint32_t kChecked = kAttributeHidden | kAttributeSystem | kAttributeDirectory;
  do {
    seen[data.name] = data.attributes & kChecked;
  } while (platform::FindNextEntry(search, &data));
  EXPECT_TRUE(platform::CloseSearch(search));

  const std::map<std::string, uint32_t> expected = {
      {".", kAttributeDirectory},   {"..", kAttributeDirectory}, {"sub.wav", kAttributeDirectory},
      {"Only.Wav", 0},              {"hid.wav", kAttributeHidden},
  };
  for (const auto& [name, attributes] : expected) {
    ASSERT_EQ(seen.count(name), 1u) << name;
    EXPECT_EQ(seen[name], attributes) << name;
  }
  EXPECT_EQ(seen.size(), expected.size());
}

// The lookup judges FindNextEntry by the error value alone, so the end of a
// search must leave one behind, and a success must not.
TEST_F(FileSearchTest, TheErrorValueMarksTheEndOfASearch) {
  platform::FindData data;
  const auto first = GuardedSystemCall(platform::FindFirstEntry, "sounds\\*.wav", &data);
  ASSERT_NE(first.result, platform::kInvalidSearch);
  EXPECT_STREQ(data.name, "Bell.wav");
  const auto next = GuardedSystemCall(platform::FindNextEntry, first.result, &data);
  EXPECT_FALSE(next.result);
  EXPECT_TRUE(next.failed);
  EXPECT_EQ(next.error, static_cast<uint32_t>(ERROR_NO_MORE_FILES));
  EXPECT_TRUE(platform::CloseSearch(first.result));

  const auto missing = GuardedSystemCall(platform::FindFirstEntry, "nosuch.wav", &data);
  EXPECT_EQ(missing.result, platform::kInvalidSearch);
  EXPECT_TRUE(missing.failed);
}

}  // namespace
