// The request that makes a playback stream on a server that speaks the
// PulseAudio protocol, written with exactly the fields of the version the
// connection speaks. On the sound thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/sound/driver.h"
#include "platform/posix/sound/server/server_protocol.h"

// The server's channel positions for a sound: the speakers its file or its
// format names (SoundFormat::channel_map), else, and where any of them has no position
// of the server's, the layout the server's client library gives that many
// channels: mono; left, right; then centre, rear or sides as its default
// (AIFF's) order has them, and auxiliary channels past six.
std::vector<uint8_t> ChannelPositions(const SoundFormat& format);

// A stream of one channel for each of `positions` at `rate` frames a
// second in `format` (server_protocol.h), called `name`, on the sink named
// `sink` (ServerSettings::sink), else, where that is empty, the server's
// choice (the route it remembers for the program, else its default),
// holding and asking for what `buffering` says; the server's own latency
// follows what it asks for at a time, not what it holds. Its volume is left
// to the server where the version allows (from 14): the one the mixer
// remembers for the program, else the sink's. A corked stream plays nothing
// until it is uncorked.
TagWriter StreamRequest(uint32_t version, uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                        const std::string& name, const std::string& sink, const Buffering& buffering,
                        bool corked = false);
