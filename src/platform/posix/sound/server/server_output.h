// The driver of the sound output (output.h) for a server that speaks the
// PulseAudio protocol: PulseAudio, or PipeWire through pipewire-pulse, over
// a ServerConnection (server_connection.h). The connection made when the
// driver is chosen carries the whole run. One stream on it, kept from sound
// to sound while rate, channels, sample format and buffering stay; for other
// settings it plays out and is deleted, and a new one is made on the same
// connection. Dropped, the connection is hung up, which silences it at
// once, and the next sound connects again. It tells the feed loop (feed.h)
// when its sink is suspended; a stream the server kills ends its sound. The
// volume is the sink's (VolumeControl). On the sound thread.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/posix/sound/driver.h"
#include "platform/posix/sound/server/server_connection.h"

// The server's settings as this run reads them, once (server_settings.h:
// client.conf and the environment, then the sockets, the cookie, the sink
// and the properties made from them).
ServerSettings ReadServerSettings();

// Connects to the server `settings` name (PULSE_SERVER, or the user's
// own), never starting one, by `deadline`; its streams and volume take the
// same settings. Its driver when it
// answered, and in *volume the volume of the sink it plays on, which the
// driver owns; otherwise nullptr, and *answer says why.
std::unique_ptr<OutputDriver> ConnectServerOutput(const ServerSettings& settings, uint64_t deadline,
                                                ServerAnswer* answer, VolumeControl** volume);

// The driver over `socket`, a connected socket whose other end is a server
// that has let the program in at `version`, and in *volume its sink's
// volume (for tests and the fuzzer).
std::unique_ptr<OutputDriver> AttachServerOutput(int socket, uint32_t version, VolumeControl** volume,
                                               ServerSettings settings = {});
