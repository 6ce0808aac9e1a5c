// The numbers of the PulseAudio protocol that this client uses, as the
// protocol itself defines them (its command list and its error list).
// Every number written to or read from a server is named here and nowhere
// else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace protocol {

// The protocol's version as this client speaks it at most; a connection
// uses the lower of this and the server's, and every command is written
// with the fields of that version. Nothing this client sends or reads
// changed after 35; shared memory, which later versions build on, is never
// asked for.
constexpr uint32_t kVersion = 35;
// Servers older than this (they cannot say a stream is suspended) are not
// spoken to.
constexpr uint32_t kOldestVersion = 12;

// Commands: those sent, then those the server sends unasked.
constexpr uint32_t kError = 0;
constexpr uint32_t kReply = 2;
constexpr uint32_t kCreatePlaybackStream = 3;
constexpr uint32_t kDeletePlaybackStream = 4;
constexpr uint32_t kAuth = 8;
constexpr uint32_t kSetClientName = 9;
constexpr uint32_t kDrainPlaybackStream = 12;
constexpr uint32_t kGetPlaybackLatency = 14;
constexpr uint32_t kGetServerInfo = 20;
constexpr uint32_t kGetSinkInfo = 21;
constexpr uint32_t kSetSinkVolume = 36;
constexpr uint32_t kCorkPlaybackStream = 41;
constexpr uint32_t kRequest = 61;
constexpr uint32_t kOverflow = 62;
constexpr uint32_t kUnderflow = 63;
constexpr uint32_t kPlaybackStreamKilled = 64;
constexpr uint32_t kPlaybackStreamSuspended = 76;
constexpr uint32_t kPlaybackStreamMoved = 78;
constexpr uint32_t kStarted = 86;
constexpr uint32_t kPlaybackStreamEvent = 92;
constexpr uint32_t kPlaybackBufferAttrChanged = 94;

// Error codes a refusal carries.
constexpr uint32_t kErrorAccess = 1;
constexpr uint32_t kErrorCommand = 2;
constexpr uint32_t kErrorInvalid = 3;
constexpr uint32_t kErrorExist = 4;
constexpr uint32_t kErrorNoEntity = 5;
constexpr uint32_t kErrorConnectionRefused = 6;
constexpr uint32_t kErrorProtocol = 7;
constexpr uint32_t kErrorTimeout = 8;
constexpr uint32_t kErrorAuthKey = 9;
constexpr uint32_t kErrorInternal = 10;
constexpr uint32_t kErrorConnectionTerminated = 11;
constexpr uint32_t kErrorKilled = 12;
constexpr uint32_t kErrorInvalidServer = 13;
constexpr uint32_t kErrorModInitFailed = 14;
constexpr uint32_t kErrorBadState = 15;
constexpr uint32_t kErrorNoData = 16;
constexpr uint32_t kErrorVersion = 17;
constexpr uint32_t kErrorTooLarge = 18;
constexpr uint32_t kErrorNotSupported = 19;
constexpr uint32_t kErrorUnknown = 20;
constexpr uint32_t kErrorNoExtension = 21;
constexpr uint32_t kErrorObsolete = 22;
constexpr uint32_t kErrorNotImplemented = 23;
constexpr uint32_t kErrorForked = 24;
constexpr uint32_t kErrorIo = 25;
constexpr uint32_t kErrorBusy = 26;

// The channel of commands; a stream's samples go on the stream's own.
constexpr uint32_t kCommandChannel = UINT32_MAX;
// A packet's header: length, channel, offset (two words), flags.
constexpr size_t kHeaderSize = 20;
// The servers refuse packets longer than this; so does this client.
constexpr uint32_t kMaxPacketSize = 16 * 1024 * 1024;
// A header's flags: shared-memory bits (this client never offers shared
// memory) and, for samples, the seek mode, of which the highest is 3.
constexpr uint32_t kSharedMemoryFlags = 0xFF000000;
constexpr uint32_t kSeekModeMask = 0xFF;
constexpr uint32_t kLastSeekMode = 3;
// A channel map or volume has at most this many channels.
constexpr uint8_t kMaxChannels = 32;
constexpr size_t kCookieSize = 256;

// "None" for an index, "the server's choice" for a buffer size.
constexpr uint32_t kNoIndex = UINT32_MAX;
constexpr uint32_t kUnset = UINT32_MAX;
// Sample formats, little-endian.
constexpr uint8_t kSigned16 = 3;
constexpr uint8_t kFloat32 = 5;
// The volume at which a channel is neither raised nor lowered.
constexpr uint32_t kFullVolume = 0x10000;

}  // namespace protocol
