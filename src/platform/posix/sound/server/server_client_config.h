// The user's configuration as the sound server's client library reads it:
// the environment, the home and pulse folders, and client.conf. Runs on the
// sound thread. Files are read without ever waiting (a FIFO, a device or a
// folder reads as empty) and never past a bound; nothing is created or
// written.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The blanks that separate a list's entries and surround a value.
inline constexpr std::string_view kBlanks = "\n\r \t";

// A variable as the library sees it: set (even empty) or not.
std::optional<std::string> Env(const char* name);

// Up to `most` bytes from the start of an open file; nothing from a FIFO, a
// device or a folder, whose reads could wait or never end.
std::string ReadOpened(int fd, size_t most);
// The same for a file by name; none where it cannot be opened.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t most);

// The home folder: HOME, else USERPROFILE, else the password database; only
// an absolute path counts.
std::optional<std::string> HomeFolder();
// The user's pulse folder for configuration and cookie:
// $XDG_CONFIG_HOME/pulse, else ~/.config/pulse.
std::optional<std::string> ConfigHome();

// What client.conf says, where it says it; unset where it does not.
struct ClientConfig {
  std::optional<std::string> default_server;
  std::optional<std::string> default_sink;
  std::optional<std::string> cookie_file;
};

// The one client.conf the library reads, the first it finds, and its
// drop-ins (server_address.h says which files, in which order).
ClientConfig ReadClientConfig();
