// Where the server listens and the cookie that lets the program in.
#include "platform/posix/sound/server/server_address.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/posix/sound/server/protocol.h"

using protocol::kCookieSize;

std::vector<std::string> ServerSocketPaths() {
  if (const char* named = std::getenv("PULSE_SERVER"); named != nullptr && named[0] != '\0') {
    const std::string_view server(named);
    if (server.starts_with("unix:")) return {std::string(server.substr(5))};
    if (server.starts_with("/")) return {std::string(server)};
    return {};
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') {
    std::string path = std::string(runtime) + "/pulse/native";
    if (access(path.c_str(), F_OK) == 0) return {path};
  }
  return {"/run/pulse/native"};
}

std::string ServerCookie() {
  std::vector<std::string> places;
  if (const char* named = std::getenv("PULSE_COOKIE")) places.emplace_back(named);
  if (const char* home = std::getenv("HOME")) {
    places.push_back(std::string(home) + "/.config/pulse/cookie");
    places.push_back(std::string(home) + "/.pulse-cookie");
  }
  std::string cookie(kCookieSize, '\0');
  for (const std::string& place : places) {
    const int fd = open(place.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    const ssize_t got = read(fd, cookie.data(), cookie.size());
    close(fd);
    if (got == static_cast<ssize_t>(kCookieSize)) break;
    cookie.assign(kCookieSize, '\0');
  }
  return cookie;
}


std::string ConfiguredSink() {
  const char* named = std::getenv("PULSE_SINK");
  return named != nullptr ? named : "";
}
