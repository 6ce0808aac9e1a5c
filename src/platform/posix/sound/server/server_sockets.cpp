// Where the user's sound server listens: the sockets the environment and
// client.conf name, else the user's runtime folder's and the system's, as
// the server's client library finds them. On the sound thread, reading only
// the environment and the file system, never waiting.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "platform/posix/sound/server/server_settings.h"

namespace {

// Whether the library takes `folder` as the user's own: missing (it would
// make it, empty) or a folder of ours that is no symbolic link.
bool OwnFolder(const std::string& folder) {
  struct stat status{};
  if (lstat(folder.c_str(), &status) != 0) return errno == ENOENT;
  return S_ISDIR(status.st_mode) && (status.st_uid == getuid() || getuid() == 0);
}

// The user's runtime folder, where the user's server has its socket. The
// library makes it where it is missing; this only finds it.
std::optional<std::string> RuntimeFolder(const std::string& machine) {
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
  const std::string link = *pulse_home + "/" + machine + "-runtime";
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
std::vector<std::string> LocalSockets(std::string_view list, const std::string& machine_id) {
  std::vector<std::string> paths;
  const std::string machine = "{" + machine_id + "}";
  while (!list.empty()) {
    list.remove_prefix(std::min(list.find_first_not_of(kBlanks), list.size()));
    const size_t end = std::min(list.find_first_of(kBlanks), list.size());
    std::string_view entry = list.substr(0, end);
    list.remove_prefix(end);
    if (entry.empty()) continue;
    if (entry.starts_with('{')) {
      if (!entry.starts_with(machine)) continue;  // another machine's socket
      entry.remove_prefix(machine.size());
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

}  // namespace

std::vector<std::string> ServerSocketPaths(const ClientConfig& config, const std::string& machine) {
  std::optional<std::string> named = Env("PULSE_SERVER");
  if (!named) named = config.default_server;
  if (named) return LocalSockets(*named, machine);
  std::vector<std::string> paths;
  if (const std::optional<std::string> folder = RuntimeFolder(machine)) {
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
