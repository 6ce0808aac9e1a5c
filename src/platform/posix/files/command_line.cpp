#include "platform/posix/files/files.h"

#include <cstring>

namespace {

// "/q", "/R3", "/v50" are options; "/usr/share/x.wav" and "/q/x.wav" are paths.
bool IsOption(const char* argument) {
  if (argument[0] != '/' || argument[1] == '\0') return false;
  return std::strchr("qQrRvV", argument[1]) != nullptr && std::strchr(argument + 1, '/') == nullptr;
}

// The command tail begins after the program name's first blank or control
// byte unless the name is quoted, so a name such as "/opt/my tools/peldo" is
// quoted; it is never shown, so a quote inside it is simply dropped.
std::string ProgramName(const char* name) {
  bool needs_quotes = name[0] == '\0' || name[0] == '"';
  for (const char* c = name; *c != '\0'; ++c) {
    if (static_cast<unsigned char>(*c) <= 32) needs_quotes = true;
  }
  if (!needs_quotes) return name;
  std::string quoted = "\"";
  for (const char* c = name; *c != '\0'; ++c) {
    if (*c != '"') quoted += *c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace

std::string FormCommandLine(int argc, const char* const* argv) {
  if (argv == nullptr || argc <= 0) return std::string();
  std::string line = ProgramName(argv[0] != nullptr ? argv[0] : "");
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i] != nullptr ? argv[i] : "";
    line += ' ';
    if (IsOption(argument)) {
      line += argument;
      continue;
    }
    // Paths are written with "/" here but with "\" on the command line, where
    // a "/" would start an option.
    for (const char* c = argument; *c != '\0'; ++c) line += (*c == '/') ? '\\' : *c;
  }
  return line;
}
