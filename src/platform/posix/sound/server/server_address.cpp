// Where the server listens, the cookie that lets the program in and the
// sink it plays on, read as the server's client library reads them.
#include "platform/posix/sound/server/server_address.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/posix/sound/server/protocol.h"

namespace {

using protocol::kCookieSize;

constexpr std::string_view kBlanks = "\n\r \t";
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

// A variable as the library sees it: set (even empty) or not.
std::optional<std::string> Env(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return value;
}

std::string_view Strip(std::string_view text) {
  const size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Opens a file to read without ever waiting: O_NONBLOCK keeps a FIFO from
// holding the sound thread until a writer comes.
int OpenToRead(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

// Up to `most` bytes from the start of an open file; nothing from a FIFO, a
// device or a folder, whose reads could wait or never end.
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
  const int fd = OpenToRead(path);
  if (fd < 0) return std::nullopt;
  std::string text = ReadOpened(fd, most);
  close(fd);
  return text;
}

// The home folder: HOME, else USERPROFILE, else the password database; only
// an absolute path counts.
std::optional<std::string> HomeFolder() {
  std::optional<std::string> home = Env("HOME");
  if (!home) home = Env("USERPROFILE");
  if (!home) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
      home = found->pw_dir;
    }
  }
  if (!home || !home->starts_with('/')) return std::nullopt;
  return home;
}

// The user's pulse folder for configuration and cookie.
std::optional<std::string> ConfigHome() {
  if (const std::optional<std::string> config = Env("XDG_CONFIG_HOME"); config && !config->empty()) {
    return *config + "/pulse";
  }
  if (const std::optional<std::string> home = HomeFolder()) return *home + "/.config/pulse";
  return std::nullopt;
}

// What client.conf says, where it says it; unset where it does not.
struct ClientConfig {
  std::optional<std::string> default_server;
  std::optional<std::string> default_sink;
  std::optional<std::string> cookie_file;
};

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
      const int fd = OpenToRead(included);
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
      ReadFile(path, OpenToRead(path), false, depth + 1);
    }
  }

  ClientConfig* config_;
  size_t bytes_ = 0;
  size_t files_ = 0;
};

// The library reads one client.conf, the first it finds, and its drop-ins.
ClientConfig ReadClientConfig() {
  ClientConfig config;
  ConfigReader reader(&config);
  int error = 0;
  auto open_config = [&](const std::string& name) {
    const int fd = OpenToRead(name);
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

// Whether the library takes `folder` as the user's own: missing (it would
// make it, empty) or a folder of ours that is no symbolic link.
bool OwnFolder(const std::string& folder) {
  struct stat status{};
  if (lstat(folder.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISDIR(status.st_mode) && (status.st_uid == getuid() || getuid() == 0);
}

// The user's runtime folder, where the user's server has its socket. The
// library makes it where it is missing; this only finds it.
std::optional<std::string> RuntimeFolder() {
  if (const std::optional<std::string> named = Env("PULSE_RUNTIME_PATH")) {
    if (OwnFolder(*named)) return named;
    return std::nullopt;
  }
  if (const std::optional<std::string> runtime = Env("XDG_RUNTIME_DIR")) {
    struct stat status{};
    if (stat(runtime->c_str(), &status) == 0 && status.st_uid != getuid()) return std::nullopt;
    if (OwnFolder(*runtime + "/pulse")) return *runtime + "/pulse";
    return std::nullopt;
  }
  // Without XDG_RUNTIME_DIR: a link named after the machine in the user's
  // pulse folder, to a private folder of the user's elsewhere.
  const std::optional<std::string> home = HomeFolder();
  if (!home) return std::nullopt;
  struct stat status{};
  if (stat(home->c_str(), &status) == 0) {
    if (status.st_uid != getuid() && status.st_uid != 0) return std::nullopt;
  } else if (errno != ENOENT) {
    return std::nullopt;
  }
  std::optional<std::string> pulse_home = *home + "/.pulse";
  if (access(pulse_home->c_str(), F_OK) != 0) pulse_home = ConfigHome();
  if (!pulse_home || !OwnFolder(*pulse_home)) return std::nullopt;
  const std::string link = *pulse_home + "/" + MachineId() + "-runtime";
  char target[PATH_MAX];
  const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
  if (size <= 0 || target[0] != '/') return std::nullopt;
  target[size] = '\0';
  // The library puts a new, empty folder in place of a target it does not
  // trust: no server is there then.
  if (lstat(target, &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != getuid() ||
      (status.st_mode & 0777) != 0700) {
    return std::nullopt;
  }
  return link;
}

// The sockets a server list names, up to its first host.
std::vector<std::string> LocalSockets(std::string_view list) {
  std::vector<std::string> paths;
  std::optional<std::string> machine;
  while (!list.empty()) {
    list.remove_prefix(std::min(list.find_first_not_of(kBlanks), list.size()));
    const size_t end = std::min(list.find_first_of(kBlanks), list.size());
    std::string_view entry = list.substr(0, end);
    list.remove_prefix(end);
    if (entry.empty()) continue;
    if (entry.starts_with('{')) {
      if (!machine) machine = std::string("{").append(MachineId()).append("}");
      if (!entry.starts_with(*machine)) continue;  // another machine's socket
      entry.remove_prefix(machine->size());
    }
    if (entry.starts_with("unix:")) {
      entry.remove_prefix(5);
    } else if (!entry.starts_with('/') && !entry.empty()) {
      break;
    }
    if (!entry.empty()) paths.emplace_back(entry);  // an empty name is no server
  }
  return paths;
}

// A cookie read whole from `path`, or none.
std::optional<std::string> ReadCookie(const std::string& path) {
  std::optional<std::string> cookie = ReadSmallFile(path, kCookieSize);
  if (cookie && cookie->size() == kCookieSize) return cookie;
  return std::nullopt;
}

}  // namespace

std::vector<std::string> ServerSocketPaths() {
  std::optional<std::string> named = Env("PULSE_SERVER");
  if (!named) named = ReadClientConfig().default_server;
  if (named) return LocalSockets(*named);
  std::vector<std::string> paths;
  if (const std::optional<std::string> folder = RuntimeFolder()) {
    // The shorter of the two names, as the library takes it: a socket's path
    // has room for 107 bytes only.
    std::string shortest = *folder;
    if (char* resolved = realpath(folder->c_str(), nullptr)) {
      if (std::string_view(resolved).size() <= shortest.size()) shortest = resolved;
      free(resolved);
    }
    paths.push_back(shortest + "/native");
  }
  paths.emplace_back("/var/run/pulse/native");
  return paths;
}

std::string ServerCookie() {
  const std::optional<std::string> config_home = ConfigHome();
  // Names that are not absolute are taken in the user's pulse folder.
  auto read_at = [&](const std::string& name) -> std::optional<std::string> {
    if (name.starts_with('/')) return ReadCookie(name);
    if (config_home) return ReadCookie(*config_home + "/" + name);
    return std::nullopt;
  };
  if (const std::optional<std::string> named = Env("PULSE_COOKIE"); named && !named->empty()) {
    if (std::optional<std::string> cookie = read_at(*named)) return *cookie;
  }
  if (const std::optional<std::string> file = ReadClientConfig().cookie_file) {
    if (std::optional<std::string> cookie = read_at(*file)) return *cookie;
  }
  if (std::optional<std::string> cookie = read_at("cookie")) return *cookie;
  if (const std::optional<std::string> home = HomeFolder()) {
    if (std::optional<std::string> cookie = ReadCookie(*home + "/.pulse-cookie")) return *cookie;
  }
  return std::string(kCookieSize, '\0');
}

std::string ConfiguredSink() {
  if (const std::optional<std::string> named = Env("PULSE_SINK"); named && !named->empty()) return *named;
  return ReadClientConfig().default_sink.value_or("");
}

std::string MachineId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    const int fd = OpenToRead(path);
    if (fd < 0) continue;
    // The library reads 32 characters at most, up to the line's end.
    std::string id = ReadOpened(fd, 32);
    close(fd);
    id = id.substr(0, id.find_first_of(std::string_view("\r\n\0", 3)));
    if (!id.empty()) return id;
    break;
  }
  char host[HOST_NAME_MAX + 1] = {};
  if (gethostname(host, sizeof host - 1) == 0) return host;
  char number[16];
  std::snprintf(number, sizeof number, "%08lx", static_cast<unsigned long>(gethostid()));
  return number;
}
