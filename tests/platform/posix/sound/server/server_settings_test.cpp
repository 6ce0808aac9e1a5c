// Where the server, the cookie and the sink are found: the environment and
// client.conf read as the server's client library reads them, into the one
// value a run reads once.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/sound/server/server_output.h"
#include "platform/posix/sound/server/server_settings.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::string Sockets() {
  std::string joined;
  for (const std::string& path : ReadServerSettings().sockets) joined += (joined.empty() ? "" : " ") + path;
  return joined;
}
std::string Cookie() {  // the rows' cookies are one byte repeated
  const std::string cookie = ReadServerSettings().cookie;
  return cookie != std::string(256, cookie[0]) ? "mixed" : cookie[0] == '\0' ? "zeros" : cookie.substr(0, 1);
}
std::string Sink() { return ReadServerSettings().sink; }
std::string Session() {
  for (const auto& [key, value] : ReadServerSettings().properties) {
    if (key == "application.process.session_id") return value;
  }
  return "(none)";
}

struct SettingsCase {
  const char* why;
  Pairs env;    // the rest unset, and HOME the row's home; $ is the row's folder, ID the machine's id
  Pairs files;  // under the row's folder: "/" a folder, "|" a FIFO, "->" a link; the user's client.conf empty
  std::string (*ask)();
  std::string expected;
};

TEST(ServerSettingsTest, FoundWhereTheClientLibraryFindsThem) {
  const std::string a(256, 'a'), b(256, 'b'), c(256, 'c');
  const std::string user = "home/.config/pulse/client.conf", sys = "/var/run/pulse/native";
  const SettingsCase cases[] = {
      {"a list in order, blanks around and between", {{"PULSE_SERVER", " unix:$/a \t $/b "}}, {}, Sockets, "$/a $/b"},
      {"an entry for another machine is skipped, this machine's kept",
       {{"PULSE_SERVER", "{other}unix:$/a {ID}$/b"}}, {}, Sockets, "$/b"},
      {"a host ends the sockets: ALSA's plug-in tries the whole list",
       {{"PULSE_SERVER", "unix:$/a tcp:host:4713 $/b"}}, {}, Sockets, "$/a"},
      {"hosts alone give no socket", {{"PULSE_SERVER", "tcp:localhost other-host"}}, {}, Sockets, ""},
      {"an empty PULSE_SERVER names no server", {{"PULSE_SERVER", ""}}, {}, Sockets, ""},
      {"PULSE_SERVER beats client.conf", {{"PULSE_SERVER", "$/a"}}, {{user, "default-server = $/b"}}, Sockets, "$/a"},
      {"client.conf's default-server, comments cut", {}, {{user, ";\n default-server = $/c # here\n"}}, Sockets, "$/c"},
      {"~/.pulse/client.conf hides ~/.config/pulse/client.conf", {},
       {{"home/.pulse/client.conf", "default-server=$/p"}, {user, "default-server=$/q"}}, Sockets, "$/p"},
      {"PULSE_CLIENTCONFIG, not the user's file, then drop-ins by name", {{"PULSE_CLIENTCONFIG", "$/my.conf"}},
       {{"my.conf", "default-server=$/a"}, {"my.conf.d/10.conf", "default-server=$/b"}, {user, "default-server=$/e"},
        {"my.conf.d/90.conf", "default-server=$/c"}, {"my.conf.d/9.txt", "default-server=$/d"}}, Sockets, "$/c"},
      {"an unknown key ends the file", {}, {{user, "default-server=$/a\nno-such-key = 1\ndefault-server=$/b"}}, Sockets,
       "$/a"},
      {"an empty value unsets the key", {}, {{user, "default-server=$/a\ndefault-server =\n"}}, Sockets, sys},
      {".include reads a file beside the including one", {},
       {{user, ".include more.conf\n"}, {"home/.config/pulse/more.conf", "default-server=$/i"}}, Sockets, "$/i"},
      {"a file that includes itself ends", {}, {{user, "default-server=$/a\n.include client.conf\n"}}, Sockets, "$/a"},
      {"a huge file is read only so far", {}, {{user, std::string(2 << 20, '#') + "\ndefault-server=$/h"}}, Sockets,
       sys},
      {"a FIFO as client.conf is not waited on", {{"PULSE_CLIENTCONFIG", "$/fifo"}}, {{"fifo", "|"}}, Sockets, sys},
      {"PULSE_RUNTIME_PATH before XDG_RUNTIME_DIR", {{"PULSE_RUNTIME_PATH", "$/rt"}, {"XDG_RUNTIME_DIR", "$/xdg"}},
       {{"rt", "/"}, {"xdg/pulse", "/"}}, Sockets, "$/rt/native " + sys},
      {"XDG_RUNTIME_DIR's pulse folder", {{"XDG_RUNTIME_DIR", "$/xdg"}}, {{"xdg/pulse", "/"}}, Sockets,
       "$/xdg/pulse/native " + sys},
      {"a runtime folder that is a link is not the user's", {{"PULSE_RUNTIME_PATH", "$/link"}},
       {{"rt", "/"}, {"link", "->$/rt"}}, Sockets, sys},
      {"without XDG_RUNTIME_DIR the machine's runtime link in the pulse folder", {},
       {{"private", "/"}, {"home/.config/pulse/ID-runtime", "->$/private"}}, Sockets, "$/private/native " + sys},
      {"PULSE_COOKIE first", {{"PULSE_COOKIE", "$/mine"}},
       {{"mine", a}, {user, "cookie-file = $/theirs"}, {"theirs", b}, {"home/.config/pulse/cookie", b}}, Cookie, "a"},
      {"~/.config/pulse/cookie before ~/.pulse-cookie", {}, {{"home/.config/pulse/cookie", a}, {"home/.pulse-cookie", b}},
       Cookie, "a"},
      {"a short cookie is passed over; client.conf's cookie-file is in XDG_CONFIG_HOME",
       {{"PULSE_COOKIE", "$/short"}, {"XDG_CONFIG_HOME", "$/xdgc"}},
       {{"short", "abc"}, {user, "cookie-file = theirs"}, {"xdgc/pulse/theirs", c}, {"xdgc/pulse/cookie", b}},
       Cookie, "c"},
      {"XDG_CONFIG_HOME's cookie replaces ~/.config's, then ~/.pulse-cookie", {{"XDG_CONFIG_HOME", "$/xdgc"}},
       {{"home/.config/pulse/cookie", a}, {"home/.pulse-cookie", b}}, Cookie, "b"},
      {"a longer file gives its first bytes", {}, {{"home/.config/pulse/cookie", c + "d"}}, Cookie, "c"},
      {"a FIFO as cookie gives zeros at once", {{"PULSE_COOKIE", "$/fifo"}}, {{"fifo", "|"}}, Cookie, "zeros"},
      {"PULSE_SINK beats default-sink", {{"PULSE_SINK", "mine"}}, {{user, "default-sink=x"}}, Sink, "mine"},
      {"client.conf's default-sink", {}, {{user, "default-sink = theirs"}}, Sink, "theirs"},
      {"neither names a sink: the server's default", {}, {}, Sink, ""},
      {"the login session's id, its bytes filtered to UTF-8", {{"XDG_SESSION_ID", "5\xff"}}, {}, Session,
       std::string("5_", 3)},
      {"no session id where the environment has none", {}, {}, Session, "(none)"},
  };
  const char* names[] = {"HOME",         "USERPROFILE",  "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR",    "PULSE_RUNTIME_PATH",
                         "PULSE_SERVER", "PULSE_COOKIE", "PULSE_SINK",      "PULSE_CLIENTCONFIG", "PULSE_CONFIG_PATH",
                         "XDG_SESSION_ID"};
  std::vector<std::optional<std::string>> saved;
  for (const char* name : names) saved.push_back(getenv(name) ? std::optional(getenv(name)) : std::nullopt);
  char made[] = "/tmp/peldo-settings-XXXXXX";
  ASSERT_NE(mkdtemp(made), nullptr);
  const std::string folder = made, id = MachineId();
  ASSERT_FALSE(id.empty());
  auto expand = [&](std::string text) {
    for (size_t at; (at = text.find("ID")) != std::string::npos;) text.replace(at, 2, id);
    for (size_t at; (at = text.find('$')) != std::string::npos;) text.replace(at, 1, folder);
    return text;
  };
  for (const SettingsCase& row : cases) {
    for (const char* name : names) unsetenv(name);
    setenv("HOME", (folder + "/home").c_str(), 1);
    for (const auto& [name, value] : row.env) setenv(name.c_str(), expand(value).c_str(), 1);
    Pairs files = {{user, ""}};
    files.insert(files.end(), row.files.begin(), row.files.end());
    for (const auto& [name, content] : files) {
      const std::filesystem::path path = folder + "/" + expand(name);
      std::filesystem::create_directories(path.parent_path());
      if (content == "/") mkdir(path.c_str(), 0700);
      else if (content == "|") mkfifo(path.c_str(), 0600);
      else if (content.starts_with("->")) std::filesystem::create_symlink(expand(content.substr(2)), path);
      else std::ofstream(path, std::ios::trunc) << expand(content);
    }
    EXPECT_EQ(row.ask(), expand(row.expected)) << row.why;
    std::filesystem::remove_all(folder);
    mkdir(folder.c_str(), 0700);
  }
  rmdir(folder.c_str());
  for (size_t at = 0; at < saved.size(); ++at) {
    saved[at] ? setenv(names[at], saved[at]->c_str(), 1) : unsetenv(names[at]);
  }
}

}  // namespace
