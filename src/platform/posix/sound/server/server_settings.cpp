// The sound server's settings, read once per run: the environment and
// client.conf (with its .d folder) as the server's client library reads
// them, and the one value made of them.
#include "platform/posix/sound/server/server_settings.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/posix/files/files.h"
#include "platform/posix/system.h"

namespace {

// The library reads client.conf a line at a time into 4096 bytes: a longer
// line comes in pieces of 4095, each taken as a line of its own.
constexpr size_t kConfigPieceSize = 4095;
// A configuration that asks for more than this (a huge file, includes that
// include each other) is read only this far.
constexpr size_t kMostConfigBytes = 1 << 20;
constexpr size_t kMostConfigFiles = 64;
constexpr size_t kMostDropInNames = 1024;
constexpr int kMostIncludeDepth = 8;

// The keys the library knows in client.conf; any other ends the file.
constexpr std::string_view kConfigKeys[] = {
    "daemon-binary", "extra-arguments", "default-sink", "default-source", "default-server",
    "default-dbus-server", "autospawn", "cookie-file", "disable-shm", "enable-shm", "enable-memfd",
    "shm-size-bytes", "auto-connect-localhost", "auto-connect-display"};

std::string_view Strip(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

class ConfigReader {
 public:
  explicit ConfigReader(ClientConfig* config) : config_(config) {}

  // Reads one file already opened as `name`, then, with `drop_ins`, the
  // *.conf files of `name`.d. False where a line ended the file early.
  bool ReadFile(const std::string& name, int fd, bool drop_ins, int depth) {
    bool whole = true;
    if (fd >= 0 && ++files_ <= kMostConfigFiles) {
      std::string text = ReadOpened(fd, kMostConfigBytes - std::min(bytes_, kMostConfigBytes));
      bytes_ += text.size();
      std::string_view rest(text);
      while (!rest.empty() && whole) {
        size_t end = std::min(rest.find('\n'), kConfigPieceSize - 1) + 1;
        end = std::min(end, rest.size());
        whole = ReadLine(name, rest.substr(0, end), depth);
        rest.remove_prefix(end);
      }
    }
    if (fd >= 0) close(fd);
    if (drop_ins) ReadDropIns(name + ".d", depth);
    return whole;
  }

 private:
  // False where the library stops reading the file at this line.
  bool ReadLine(const std::string& name, std::string_view line, int depth) {
    line = line.substr(0, line.find('\0'));  // the library's lines are C strings
    line.remove_prefix(std::min(line.find_first_not_of(" \t\n"), line.size()));
    line = line.substr(0, line.find_first_of("#;\n"));
    if (line.empty()) return true;
    if (line.starts_with(".include ")) {
      std::string included(Strip(line.substr(9)));
      if (!included.starts_with('/') && name.find('/') != std::string::npos) {
        included = name.substr(0, name.rfind('/') + 1) + included;
      }
      if (depth >= kMostIncludeDepth) return true;
      const int fd = OpenWithoutBlocking(included);
      if (fd < 0) return errno == ENOENT;
      return ReadFile(included, fd, false, depth + 1);
    }
    if (line.starts_with('[')) {
      // Sections mean nothing in client.conf, but a [Properties] one or a
      // broken header ends the file.
      return line.ends_with(']') && line != "[Properties]";
    }
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) return false;
    const std::string_view key = Strip(line.substr(0, equals));
    const std::string_view value = Strip(line.substr(equals + 1));
    if (std::find(std::begin(kConfigKeys), std::end(kConfigKeys), key) == std::end(kConfigKeys)) return false;
    std::optional<std::string> setting;
    if (!value.empty()) setting = std::string(value);  // an empty value unsets the key
    if (key == "default-server") config_->default_server = setting;
    if (key == "default-sink") config_->default_sink = setting;
    if (key == "cookie-file") config_->cookie_file = setting;
    return true;
  }

  void ReadDropIns(const std::string& folder, int depth) {
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) return;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(listing)) {
      const std::string_view entry_name(entry->d_name);
      if (entry_name.ends_with(".conf") && names.size() < kMostDropInNames) names.emplace_back(entry_name);
    }
    closedir(listing);
    std::sort(names.begin(), names.end());
    for (const std::string& entry_name : names) {
      const std::string path = folder + "/" + entry_name;
      ReadFile(path, OpenWithoutBlocking(path), false, depth + 1);
    }
  }

  ClientConfig* config_;
  size_t bytes_ = 0;
  size_t files_ = 0;
};

}  // namespace

std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return value;
}

std::string ReadOpened(int fd, size_t most) {
  std::string text;
  struct stat status{};
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return text;
  char block[4096];
  while (text.size() < most) {
    const ssize_t got = read(fd, block, std::min(sizeof block, most - text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(block, static_cast<size_t>(got));
  }
  return text;
}

std::optional<std::string> ReadSmallFile(const std::string& path, size_t most) {
  const int fd = OpenWithoutBlocking(path);
  if (fd < 0) return std::nullopt;
  std::string text = ReadOpened(fd, most);
  close(fd);
  return text;
}

std::optional<std::string> HomeFolder() {
  std::optional<std::string> home = Env("HOME");
  if (!home) home = Env("USERPROFILE");
  if (!home) {
    if (std::optional<UserEntry> user = LookUpUser(); user && !user->home.empty()) home = std::move(user->home);
  }
  if (!home || !home->starts_with('/')) return std::nullopt;
  return home;
}

std::optional<std::string> ConfigHome() {
  if (const std::optional<std::string> config = Env("XDG_CONFIG_HOME"); config && !config->empty()) {
    return *config + "/pulse";
  }
  if (const std::optional<std::string> home = HomeFolder()) return *home + "/.config/pulse";
  return std::nullopt;
}

ClientConfig ReadClientConfig() {
  ClientConfig config;
  ConfigReader reader(&config);
  int error = 0;
  auto open_config = [&](const std::string& name) {
    const int fd = OpenWithoutBlocking(name);
    error = errno;
    if (fd >= 0) reader.ReadFile(name, fd, true, 0);
    return fd >= 0;
  };
  if (const std::optional<std::string> named = Env("PULSE_CLIENTCONFIG")) {
    open_config(*named);
    return config;
  }
  if (const std::optional<std::string> folder = Env("PULSE_CONFIG_PATH")) {
    if (open_config(*folder + "/client.conf")) return config;
  } else if (const std::optional<std::string> home = HomeFolder()) {
    if (open_config(*home + "/.pulse/client.conf") || open_config(*home + "/.config/pulse/client.conf")) {
      return config;
    }
  } else {
    return config;
  }
  // A user's file that is there but cannot be opened hides the system's.
  if (error == ENOENT) open_config("/etc/pulse/client.conf");
  return config;
}

std::string ConfiguredSink(const ClientConfig& config) {
  if (const std::optional<std::string> named = Env("PULSE_SINK"); named && !named->empty()) return *named;
  return config.default_sink.value_or("");
}
