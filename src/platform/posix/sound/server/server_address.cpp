// Where the server listens, the cookie that lets the program in and the
// sink it plays on, read as the server's client library reads them.
#include "platform/posix/sound/server/server_address.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/posix/sound/server/client_config.h"
#include "platform/posix/sound/server/protocol.h"

namespace {

using protocol::kCookieSize;

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
