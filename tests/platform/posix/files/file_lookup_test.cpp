#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/files/wildcard_pattern.h"
#include "text/file_lookup.h"
#include "text_bytes.h"

namespace {

// A directory tree with every kind of entry the lookup must tell apart; the
// tests run inside it.
class FileLookupTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char templ[] = "/tmp/peldo-lookup-XXXXXX";
    ASSERT_NE(mkdtemp(templ), nullptr);
    root_ = templ;
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    for (const char* directory : {"x.wav", "sounds", "only/d.wav", "only/.d", "accents", "case"}) {
      std::filesystem::create_directories(directory);
    }
    for (const char* file : {"ding.wav", "Mixed.WAV", "z.wav", "fz.wav", ".hidden.wav", "sounds/Bell.wav",
                             "sounds/.Hidden", "sounds/_Intro.wav", "sounds/Bell.wav.bak", "only/.h.wav", "Été.wav",
                             "accents/Éb.wav", "accents/éa.wav", "accents/\xC9t\xE9.wav", "case/Ding.wav",
                             "case/ding.wav"}) {
      std::ofstream(file) << "RIFF";
    }
    ASSERT_EQ(mkfifo("fifo.wav", 0600), 0);
    ASSERT_EQ(mkfifo("only/f.wav", 0600), 0);
    std::filesystem::create_symlink("ding.wav", "link.wav");
    std::filesystem::create_symlink("missing.wav", "dangling.wav");
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "sock.wav");
    ASSERT_EQ(bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    close(sock);
  }
  static void TearDownTestSuite() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(root_);
  }
  static std::string Backslashed(std::string path) {
    for (char& c : path) c = c == '/' ? '\\' : c;
    return path;
  }
  static inline std::string root_;
  static inline std::filesystem::path previous_;
};

std::string Lookup(const std::string& pattern, uint32_t allowed = 0) {
  return ToString(FindFileName(ToText(pattern), allowed));
}

TEST_F(FileLookupTest, FindsOnlyPlainVisibleFiles) {
  const struct {
    const char* why;
    std::string pattern;
    std::string expected;
    uint32_t allowed = 0;
  } cases[] = {
      {"exact name", "ding.wav", "ding.wav"},
      {"letters in another case give the stored name", "DING.WAV", "ding.wav"},
      {"no extension is added here", "DING", ""},
      {"blank at the end ignored", "ding.wav ", "ding.wav"},
      {"dots and blanks at the end ignored", "ding.wav. .", "ding.wav"},
      {"a directory is no file", "x.wav", ""},
      {"hidden file", ".hidden.wav", ""},
      {"a FIFO could block the player", "fifo.wav", ""},
      {"socket", "sock.wav", ""},
      {"dangling symbolic link", "dangling.wav", ""},
      {"link to a file counts as the file", "link.wav", "link.wav"},
      {"subdirectory with backslash", "SOUNDS\\bell.wav", "Bell.wav"},
      {"subdirectory with slash", "sounds/Bell.WAV", "Bell.wav"},
      {"dot-dot keeps its meaning", "sounds\\..\\ding.wav", "ding.wav"},
      {"missing directory", "nosuch\\ding.wav", ""},
      {"wildcard: first plain file, hidden one skipped", "*.WAV", "ding.wav"},
      {"question mark, any case", "m?XED.*", "Mixed.WAV"},
      {"matching directory skipped", "?.WAV", "z.wav"},
      {"matching FIFO skipped", "f*.wav", "fz.wav"},
      {"a link found by a search counts as its file", "l*.wav", "link.wav"},
      {"a dangling link found by a search is skipped", "d*.wav", "ding.wav"},
      {"first of the kinds allowed", "only\\*.wav", "d.wav", platform::kAttributeDirectory},
      {"a hidden directory, never \".\" or \"..\"", "only\\*", ".d",
       platform::kAttributeDirectory | platform::kAttributeHidden},
      // "_" comes after the letters, as in their capitals; a shorter name before a longer one.
      {"trailing backslash searches the directory in order, hidden skipped", "sounds\\", "Bell.wav"},
      {"only a directory, a hidden file and a FIFO match", "only\\*.wav", ""},
      {"a directory of unacceptable entries", "only\\", ""},
      {"absolute path", root_ + "/sounds/bell.wav", "Bell.wav"},
      {"absolute path with backslashes", Backslashed(root_) + "\\Ding.wav", "ding.wav"},
      {"cut at 256 characters", "ding.wav" + std::string(248, ' ') + "x", "ding.wav"},
      {"the 256th character still counts", "ding.wav" + std::string(247, ' ') + "xy", ""},
      {"empty pattern", "", ""},
      {"control bytes and quotes", "\x01\x7f\"*?\"\\\t", ""},
      {"wildcards everywhere", std::string(100, '*') + std::string(100, '?') + "x", ""},
      {"stars past the cut still match", std::string(300, '*') + "x", "ding.wav"},
      {"overlong component", std::string(300, 'a') + ".wav", ""},
      {"UTF-8: letters beyond ASCII in another case", "été.wav", "Été.wav"},
      {"UTF-8: capitals beyond ASCII", "ÉTÉ.WAV", "Été.wav"},
      {"UTF-8: a question mark is one character", "?t?.wav", "Été.wav"},
      {"UTF-8: first in order regardless of case", "accents\\*.wav", "éa.wav"},
      {"not UTF-8: as written", "accents\\\xC9t\xE9.wav", "\xC9t\xE9.wav"},
      {"not UTF-8: ASCII letters in another case", "accents\\\xC9T\xE9.WAV", "\xC9t\xE9.wav"},
      {"not UTF-8: other bytes keep their case", "accents\\\xE9t\xE9.wav", ""},
      {"not UTF-8: a question mark is one byte", "accents\\?t?.wav", "\xC9t\xE9.wav"},
      {"of names that differ in case only, the one written", "case\\ding.wav", "ding.wav"},
      {"of names that differ in case only, the other one written", "case\\Ding.wav", "Ding.wav"},
  };
  for (const auto& c : cases) EXPECT_EQ(Lookup(c.pattern, c.allowed), c.expected) << c.why;
}

TEST_F(FileLookupTest, ResolvesNamesForOpening) {
  const struct {
    const char* why;
    const char* name;
    std::optional<std::string> expected;
  } cases[] = {
      {"case corrected in every component", "SOUNDS\\bell.WAV ", "sounds/Bell.wav"},
      {"any kind of entry exists", "FIFO.wav", "fifo.wav"},
      {"dot-dot kept", "sounds/../DING.wav", "sounds/../ding.wav"},
      {"dangling link", "dangling.wav", std::nullopt},
      {"wildcards are plain characters", "*.wav", std::nullopt},
      {"a file as a directory", "ding.wav\\x", std::nullopt},
      {"ends in a separator", "sounds\\", std::nullopt},
      {"empty", "", std::nullopt},
      {"null", nullptr, std::nullopt},
      {"of names that differ in case only, the one written", "case/ding.wav", "case/ding.wav"},
      {"of names that differ in case only, the other one written", "CASE/Ding.wav", "case/Ding.wav"},
      {"neither written: the first in byte order", "case/DING.WAV", "case/Ding.wav"},
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveExistingPath(c.name), c.expected) << c.why;

  using platform::kAttributeDirectory, platform::kAttributeHidden, platform::kAttributeSystem;
  EXPECT_EQ(EntryAttributes("link.wav"), 0u);
  EXPECT_EQ(EntryAttributes("sock.wav"), kAttributeSystem);
  EXPECT_EQ(EntryAttributes("only/d.wav"), kAttributeDirectory);
  EXPECT_EQ(EntryAttributes("sounds/.Hidden"), kAttributeHidden);
  EXPECT_EQ(EntryAttributes("dangling.wav"), std::nullopt);
}

TEST(WildcardTest, MatchesAsAWindowsSearch) {
  const struct {
    const char* why;
    std::string pattern;
    std::string name;
    bool matches;
  } cases[] = {
      {"star-dot-star matches names without a dot", "*.*", "README", true},
      {"a second dot needs a dot", "*.*.*", "README", false},
      {"case ignored", "*.wav", "DING.WAV", true},
      {"extension must match whole", "*.wav", "ding.wave", false},
      {"question mark may match nothing before a dot", "ding?.wav", "ding.wav", true},
      {"question mark inside needs a character", "d?ng.wav", "dng.wav", false},
      {"dot-star matches no extension", "ding.*", "ding", true},
      {"plain dot needs a dot", "ding.wav", "dingwav", false},
      {"a last dot matches the end of a name", "d*.", "ding", true},
      {"many stars stay fast", "*a*a*a*a*a*a*a*a*a*a*b", std::string(255, 'a'), false},
      {"a star gives back what a later part needs", "*a*b", "aXbXab", true},
      {"question marks before dots tried both ways", "?.?.x", "..a.x", true},
      {"a star reaches far into a long name", "a*b", "a" + std::string(130, 'x') + "b", true},
      {"the longest name matched", "*a", std::string(319, 'a'), true},
      {"longer than any entry's name", "*", std::string(320, 'a'), false},
      {"a last letter folds to one of fewer bytes", "*ſ", "BUS", true},
      {"a last letter folds to one of more bytes", "*k.wav", "\u212A.wav", true},
      {"dotless i has no simple case folding", "ı", "I", false},
  };
  for (const auto& c : cases) EXPECT_EQ(WildcardPattern(c.pattern).Matches(c.name), c.matches) << c.why;
}

}  // namespace
