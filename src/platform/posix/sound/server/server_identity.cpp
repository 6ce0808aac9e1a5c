// Who the program is to the sound server: the cookie that lets it in, this
// machine's id, and the properties it introduces itself with, made as the
// server's client library makes them. On the sound thread, reading only the
// environment and small files, never waiting.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <optional>
#include <string_view>

#include "platform/posix/files/files.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/sound/server/server_settings.h"
#include "platform/posix/system.h"
#include "platform/posix/utf8.h"

namespace {

using protocol::kCookieSize;

// A cookie read whole from `path`, or none.
std::optional<std::string> ReadCookie(const std::string& path) {
  std::optional<std::string> cookie = ReadSmallFile(path, kCookieSize);
  if (cookie && cookie->size() == kCookieSize) return cookie;
  return std::nullopt;
}

// Text as the library keeps it: valid UTF-8, each byte that is not part
// of a valid character replaced by '_'; *valid says whether it was so.
std::string FilterUtf8(std::string_view text, bool* valid = nullptr) {
  std::string filtered;
  if (valid != nullptr) *valid = true;
  for (size_t i = 0; i < text.size();) {
    // A zero byte ends a string of the protocol: it is no character here.
    const size_t length = text[i] == '\0' ? 0 : DecodeUtf8(text, i).length;
    if (length == 0) {
      if (valid != nullptr) *valid = false;
      filtered += '_';
      ++i;
      continue;
    }
    filtered.append(text.substr(i, length));
    i += length;
  }
  return filtered;
}

void SetProperty(PropertyList* properties, std::string_view key, std::string value) {
  for (auto& [name, held] : *properties) {
    if (name == key) {
      held = std::move(value);
      return;
    }
  }
  properties->emplace_back(std::string(key), std::move(value));
}

// A text value: valid UTF-8, sent with its closing zero; a key: ASCII, not
// empty. Anything else is refused, as the library refuses it.
bool SetText(PropertyList* properties, std::string_view key, std::string_view value) {
  bool valid = false;
  FilterUtf8(value, &valid);
  const bool key_valid = !key.empty() && std::none_of(key.begin(), key.end(), [](char c) {
    return static_cast<unsigned char>(c) >= 0x80 || c == '\0';
  });
  if (!valid || !key_valid || value.find('\0') != std::string_view::npos) return false;
  SetProperty(properties, key, std::string(value) + '\0');
  return true;
}

// Removes the backslashes of a quoted value, each keeping what follows it.
std::string Unescape(std::string_view quoted) {
  std::string plain;
  for (size_t i = 0; i < quoted.size(); ++i) {
    if (quoted[i] == '\\' && i + 1 < quoted.size()) ++i;
    plain += quoted[i];
  }
  return plain;
}

// PULSE_PROP's list, as the library parses it; nothing when any of it does
// not parse.
std::optional<PropertyList> ParsePropertyList(std::string_view text) {
  PropertyList parsed;
  const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
  size_t i = 0;
  for (;;) {
    while (i < text.size() && blank(text[i])) ++i;
    if (i == text.size()) return parsed;
    const size_t key_start = i;
    while (i < text.size() && text[i] != '=' && !blank(text[i])) ++i;
    const std::string_view key = text.substr(key_start, i - key_start);
    while (i < text.size() && blank(text[i])) ++i;
    if (key.empty() || i == text.size() || text[i] != '=') return std::nullopt;
    ++i;
    while (i < text.size() && blank(text[i])) ++i;
    if (i == text.size()) return std::nullopt;
    if (text.substr(i).starts_with("hex:")) {
      const size_t start = i += 4;
      while (i < text.size() && std::isxdigit(static_cast<unsigned char>(text[i]))) ++i;
      if ((i < text.size() && !blank(text[i])) || (i - start) % 2 != 0 || key.find('\0') != std::string_view::npos) {
        return std::nullopt;
      }
      std::string bytes;
      for (size_t k = start; k < i; k += 2) {
        bytes += static_cast<char>(std::stoi(std::string(text.substr(k, 2)), nullptr, 16));
      }
      SetProperty(&parsed, key, std::move(bytes));
    } else if (text[i] == '\'' || text[i] == '"') {
      const char quote = text[i++];
      const size_t start = i;
      while (i < text.size() && text[i] != quote) i += text[i] == '\\' ? 2 : 1;
      if (i >= text.size()) return std::nullopt;
      if (!SetText(&parsed, key, Unescape(text.substr(start, i - start)))) return std::nullopt;
      ++i;
    } else {
      const size_t start = i;
      while (i < text.size() && !blank(text[i])) ++i;
      if (!SetText(&parsed, key, text.substr(start, i - start))) return std::nullopt;
    }
  }
}

// The user's name as the library takes it: root's is "root"; else USER,
// LOGNAME, USERNAME, else the password database.
std::optional<std::string> UserName() {
  if (getuid() == 0) return "root";
  for (const char* name : {"USER", "LOGNAME", "USERNAME"}) {
    if (std::optional<std::string> value = Env(name)) return value;
  }
  if (std::optional<UserEntry> user = LookUpUser(); user && !user->name.empty()) return std::move(user->name);
  return std::nullopt;
}

// The name of the program's file, as /proc gives it.
std::optional<std::string> BinaryName() {
  char path[PATH_MAX + 1] = {};
  const ssize_t length = readlink("/proc/self/exe", path, PATH_MAX);
  if (length <= 0) return std::nullopt;
  const std::string_view full(path, static_cast<size_t>(length));
  return std::string(full.substr(full.rfind('/') + 1));
}

// The language of the user's messages, as the environment sets it for a
// program that takes its locale from there.
std::string Language() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (std::optional<std::string> value = Env(name); value && !value->empty()) return *value;
  }
  return "C";
}

}  // namespace

std::string ServerCookie(const ClientConfig& config) {
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
  if (const std::optional<std::string> file = config.cookie_file) {
    if (std::optional<std::string> cookie = read_at(*file)) return *cookie;
  }
  if (std::optional<std::string> cookie = read_at("cookie")) return *cookie;
  if (const std::optional<std::string> home = HomeFolder()) {
    if (std::optional<std::string> cookie = ReadCookie(*home + "/.pulse-cookie")) return *cookie;
  }
  return std::string(kCookieSize, '\0');
}

std::string MachineId() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    const int fd = OpenWithoutBlocking(path);
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

PropertyList ClientProperties(const std::string& machine) {
  PropertyList properties;
  SetText(&properties, "application.name", "PELDO");
  for (char** variable = environ; variable != nullptr && *variable != nullptr; ++variable) {
    const std::string_view entry(*variable);
    const size_t equals = entry.find('=');
    if (!entry.starts_with("PULSE_PROP_") || equals == std::string_view::npos) continue;
    SetText(&properties, entry.substr(11, equals - 11), entry.substr(equals + 1));
  }
  if (const std::optional<std::string> list = Env("PULSE_PROP")) {
    if (const std::optional<PropertyList> parsed = ParsePropertyList(*list)) {
      for (const auto& [key, value] : *parsed) SetProperty(&properties, key, value);
    }
  }
  const auto set_default = [&](std::string_view key, const std::optional<std::string>& value) {
    const bool named = std::any_of(properties.begin(), properties.end(), [&](const auto& p) { return p.first == key; });
    if (!named && value) SetText(&properties, key, FilterUtf8(*value));
  };
  set_default("application.process.id", std::to_string(getpid()));
  set_default("application.process.user", UserName());
  char host[HOST_NAME_MAX + 1] = {};
  set_default("application.process.host",
              gethostname(host, sizeof host - 1) == 0 ? std::optional<std::string>(host) : std::nullopt);
  set_default("application.process.binary", BinaryName());
  set_default("application.language", Language());
  set_default("window.x11.display", Env("DISPLAY"));
  set_default("application.process.machine_id", machine);
  set_default("application.process.session_id", Env("XDG_SESSION_ID"));
  return properties;
}
