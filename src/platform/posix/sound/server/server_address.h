// Where the sound server is, as the environment tells a client.
#pragma once

#include <string>
#include <vector>

// The local sockets of the servers to try, in order: PULSE_SERVER where it
// names one ("unix:" and a path, or a path), else the user's runtime
// folder, else the system's. None when PULSE_SERVER names something else
// (a host): that is left to ALSA's plug-in.
std::vector<std::string> ServerSocketPaths();

// The cookie that proves the program may play, protocol::kCookieSize bytes:
// zeros where there is none, for a server that needs none still answers.
std::string ServerCookie();

// The sink the stream plays on and /V sets, by name: PULSE_SINK; empty for
// the server's default.
std::string ConfiguredSink();
