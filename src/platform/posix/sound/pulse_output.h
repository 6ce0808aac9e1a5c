// The driver of the sound output (output.h) for a server that speaks the
// PulseAudio protocol: PulseAudio, or PipeWire through pipewire-pulse. It
// talks to the server with libpulse, through the library's own main loop,
// which it runs on the sound thread only while it waits for the server: no
// thread of the library's runs, and no call blocks. Each wait polls the
// server's socket with a bound; a feed's waits poll the stop descriptor too.
#pragma once

#include <memory>

#include "platform/posix/sound/output.h"

// How the server answered a connection.
enum class ServerAnswer {
  kReady,   // it answered: its driver plays on it
  kNone,    // there is no server (no socket, or nobody listens): known at once
  kSilent,  // one is there but did not answer in time
};

// Connects to the server the environment names (PULSE_SERVER, or the user's
// own), never starting one. Its driver when it answered; otherwise nullptr,
// and *answer says why. On the sound thread.
std::unique_ptr<OutputDriver> ConnectPulseOutput(ServerAnswer* answer);
