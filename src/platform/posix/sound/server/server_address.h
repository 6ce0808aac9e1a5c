// Where the sound server is, as the environment tells a client.
#pragma once

#include <string>

// The local socket of the server: PULSE_SERVER where it names one ("unix:"
// and a path, or a path), else the user's runtime folder, else the
// system's. Empty when PULSE_SERVER names something else (a host): that is
// left to ALSA's plug-in.
std::string ServerSocketPath();

// The cookie that proves the program may play, protocol::kCookieSize bytes:
// zeros where there is none, for a server that needs none still answers.
std::string ServerCookie();
