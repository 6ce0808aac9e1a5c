#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/posix/files/files.h"

namespace {

TEST(FormCommandLineTest, JoinsArgumentsAsTheCommandTailExpectsThem) {
  const struct {
    const char* why;
    std::vector<const char*> argv;
    std::string expected;
  } cases[] = {
      {"program name alone", {"peldo"}, "peldo"},
      {"one blank between arguments, no quotes added", {"peldo", "my song.wav", "/r2"},
       "peldo my song.wav /r2"},
      {"options in either case stay", {"peldo", "ding", "/Q", "/v50", "/R-1"},
       "peldo ding /Q /v50 /R-1"},
      {"an absolute path is no option", {"peldo", "/usr/share/sounds/x.wav", "/r2"},
       "peldo \\usr\\share\\sounds\\x.wav /r2"},
      {"relative path", {"peldo", "sounds/ding", "/q"}, "peldo sounds\\ding /q"},
      {"a second slash makes a path", {"peldo", "/q/x.wav"}, "peldo \\q\\x.wav"},
      {"other letters after a slash make a path", {"peldo", "/tmp"}, "peldo \\tmp"},
      {"a lone slash is no option", {"peldo", "/"}, "peldo \\"},
      {"program path kept as it is", {"./build/peldo", "x"}, "./build/peldo x"},
      {"program path with a blank quoted so the tail is found", {"/opt/my tools/peldo", "x"},
       "\"/opt/my tools/peldo\" x"},
      {"empty program name quoted", {"", "x"}, "\"\" x"},
      {"empty argument keeps its blank", {"peldo", "", "x"}, "peldo  x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormCommandLine(static_cast<int>(c.argv.size()), c.argv.data()), c.expected) << c.why;
  }
  EXPECT_EQ(FormCommandLine(0, nullptr), "");
}

}  // namespace
