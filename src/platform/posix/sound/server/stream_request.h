// The request that makes a playback stream on a server that speaks the
// PulseAudio protocol, written with exactly the fields of the version the
// connection speaks. On the sound thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/posix/sound/server/server_connection.h"

// How much sound the server holds at most, how much it waits for before it
// starts, and how much it asks for at a time, in microseconds of sound.
struct StreamBuffer {
  uint64_t length_us = 0;
  uint64_t start_us = 0;
  uint64_t request_us = 0;
};

// A stream of `channels` channels at `rate` frames a second in `format`
// (protocol.h), called `name`, on the sink server_address.h's
// ConfiguredSink names, else the server's default. Its volume is left to
// the server where the version allows (from 14): the one the mixer
// remembers for the program, else the sink's.
TagWriter StreamRequest(uint32_t version, uint8_t format, unsigned rate, unsigned channels, const std::string& name,
                        const StreamBuffer& buffer);
