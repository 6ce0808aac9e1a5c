// The sound server's settings: where it listens, which cookie lets the
// program in, which sink it plays on and the properties it introduces
// itself with, found where the server's own client library finds them, so
// that the program plays on the server the desktop's mixer and pactl show.
// Read once per run into one value, on the sound thread, from the
// environment and small files (client.conf, the cookie, the machine id):
// nothing here waits on a FIFO or a device, creates or writes a file, or
// reads more than a bounded amount. The room's files, from the ground up:
// server_settings.cpp reads the environment and client.conf,
// server_sockets.cpp finds the sockets, server_identity.cpp the cookie, the
// machine id and the properties; ReadServerSettings (server_output.h) puts
// them together.
//
// client.conf is the file PULSE_CLIENTCONFIG names; else
// $PULSE_CONFIG_PATH/client.conf; else ~/.pulse/client.conf or
// ~/.config/pulse/client.conf; else /etc/pulse/client.conf; the first that
// exists is read, then the *.conf files in the folder of its name with ".d"
// added, in name order; later lines win. "key = value" lines, comments from
// # or ;, ".include FILE"; a line the library would reject (no '=', a key it
// does not know) ends that file there, as it does in the library.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/sound/server/server_protocol.h"

// What the server's client library would read from the environment and the
// user's files to reach a server and introduce the program: read once per
// run (ReadServerSettings in server_output.h, on the sound thread, when the
// server is first reached) and handed to the connection, the stream and /V, so that
// client.conf, the cookie and the machine id are each read once.
struct ServerSettings {
  std::vector<std::string> sockets;  // ServerSocketPaths
  std::string cookie;                // ServerCookie
  std::string sink;                  // ConfiguredSink
  PropertyList properties;           // ClientProperties
};

// ---- The parts of the value, for the room's own files -------------------

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
// drop-ins (see the top of this file).
ClientConfig ReadClientConfig();

// The local sockets of the servers to try, in order. PULSE_SERVER, else
// client.conf's default-server, is a list of entries separated by blanks:
// "unix:PATH" or "/PATH" is a socket; an entry that starts with "{ID}" counts
// only where ID is this machine's id (MachineId()); any other entry names a
// host, which only ALSA's plug-in reaches: the list ends before the first
// such entry, so that where none of the sockets before it answers, the
// plug-in tries the whole list in the library's order. A list with nothing
// in it gives no socket at all. Where neither names a server: the user's
// runtime folder's "native" socket (PULSE_RUNTIME_PATH, else
// $XDG_RUNTIME_DIR/pulse, else the machine's runtime link in the user's
// pulse folder), then the system's, /var/run/pulse/native. `machine` is
// MachineId().
std::vector<std::string> ServerSocketPaths(const ClientConfig& config, const std::string& machine);

// The cookie that proves the program may play, protocol::kCookieSize bytes:
// the first file that holds that many of PULSE_COOKIE, client.conf's
// cookie-file, $XDG_CONFIG_HOME/pulse/cookie (else ~/.config/pulse/cookie)
// and ~/.pulse-cookie, names that are not absolute taken in that pulse
// folder. Zeros where there is none, for a server that needs none still
// answers.
std::string ServerCookie(const ClientConfig& config);

// The sink the stream plays on and /V sets, by name: PULSE_SINK, else
// client.conf's default-sink; empty for the server's default.
std::string ConfiguredSink(const ClientConfig& config);

// This machine's id as the client library takes it for "{ID}" entries: the
// first line of /etc/machine-id, else of /var/lib/dbus/machine-id, else the
// host's name.
std::string MachineId();

// The properties the program introduces itself with, as the client library
// makes them: application.name "PELDO"; then each PULSE_PROP_key=value, and
// PULSE_PROP's list ("key=value key2='a b' key3=hex:00ff"; one that does not
// parse is left out whole) over them; then, where not named already, the
// process's id, user, host, binary and language, the display, the
// machine's id (`machine`) and the login session's (XDG_SESSION_ID). A
// mixer's rules and the server's remembered routes match the program by
// these.
PropertyList ClientProperties(const std::string& machine);
