// The PulseAudio protocol as this client speaks it: the numbers it uses, as
// the protocol itself defines them (its command list and its error list),
// and the values of its messages, each behind its type byte, written and
// read in order (server_protocol.cpp). Every number written to or read from
// a server is named here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
// A version is in the low 16 bits of its word; the high bits are flags.
constexpr uint32_t kVersionMask = 0xFFFF;

// Commands: those sent, then those the server sends unasked.
constexpr uint32_t kError = 0;
constexpr uint32_t kReply = 2;
constexpr uint32_t kCreatePlaybackStream = 3;
constexpr uint32_t kDeletePlaybackStream = 4;
constexpr uint32_t kAuth = 8;
constexpr uint32_t kSetClientName = 9;
constexpr uint32_t kDrainPlaybackStream = 12;
constexpr uint32_t kGetPlaybackLatency = 14;
constexpr uint32_t kGetSinkInfo = 21;
constexpr uint32_t kSetSinkVolume = 36;
constexpr uint32_t kRequest = 61;
constexpr uint32_t kPlaybackStreamKilled = 64;
constexpr uint32_t kPlaybackStreamSuspended = 76;
constexpr uint32_t kPlaybackStreamMoved = 78;

// Error codes a refusal carries.
constexpr uint32_t kErrorAccess = 1;
constexpr uint32_t kErrorInvalid = 3;
constexpr uint32_t kErrorAuthKey = 9;
constexpr uint32_t kErrorVersion = 17;
constexpr uint32_t kErrorTooLarge = 18;
constexpr uint32_t kErrorNotSupported = 19;
constexpr uint32_t kErrorBusy = 26;

// Each value's type, in the byte before it.
constexpr char kTagU32 = 'L';
constexpr char kTagU8 = 'B';
constexpr char kTagString = 't';
constexpr char kTagNoString = 'N';
constexpr char kTagTrue = '1';
constexpr char kTagFalse = '0';
constexpr char kTagUsec = 'U';
constexpr char kTagS64 = 'r';
constexpr char kTagTimeval = 'T';
constexpr char kTagSampleFormat = 'a';
constexpr char kTagChannelMap = 'm';
constexpr char kTagVolume = 'v';
constexpr char kTagArbitrary = 'x';
constexpr char kTagProperties = 'P';

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
// Channel positions.
constexpr uint8_t kMono = 0;
constexpr uint8_t kFrontLeft = 1, kFrontRight = 2, kFrontCenter = 3, kRearCenter = 4, kRearLeft = 5,
                  kRearRight = 6, kLfe = 7, kFrontLeftOfCenter = 8, kFrontRightOfCenter = 9, kSideLeft = 10,
                  kSideRight = 11, kFirstAux = 12, kTopCenter = 44, kTopFrontLeft = 45, kTopFrontRight = 46,
                  kTopFrontCenter = 47, kTopRearLeft = 48, kTopRearRight = 49, kTopRearCenter = 50;
// The volume at which a channel is neither raised nor lowered.
constexpr uint32_t kFullVolume = 0x10000;

}  // namespace protocol

// Numbers in the protocol's byte order.
uint32_t ReadBe32(const char* bytes);
void AppendBe32(std::string* bytes, uint32_t value);
// Writes `value` big-endian into the four bytes at `bytes`.
void PutBe32(char* bytes, uint32_t value);

// Properties by name: each value's bytes as sent, a text with its closing
// zero, in the order they are sent.
using PropertyList = std::vector<std::pair<std::string, std::string>>;

// The values of a message, each behind its type byte, as the protocol
// writes them.
class TagWriter {
 public:
  void U32(uint32_t value);
  void U8(uint8_t value);
  void String(const char* text);  // nullptr: no string
  void Bool(bool value);
  void Usec(uint64_t value);
  void Timeval(uint64_t microseconds);
  void SampleFormat(uint8_t format, uint8_t channels, uint32_t rate);
  void ChannelMap(const std::vector<uint8_t>& positions);
  void Volume(const std::vector<uint32_t>& channels);
  void Arbitrary(std::string_view data);
  void Properties(const PropertyList& properties);
  const std::string& Bytes() const { return bytes_; }

 private:
  void Raw32(uint32_t value);
  std::string bytes_;
};

// Reads the values of a message in order; each returns false at the end, on
// a value of another type or one out of bounds, and leaves the reader failed.
class TagReader {
 public:
  explicit TagReader(std::string_view bytes) : rest_(bytes) {}
  bool U32(uint32_t* value);
  bool U64(char type, uint64_t* value);  // protocol::kTagUsec microseconds, kTagS64 a 64-bit number
  bool Bool(bool* value);
  bool Timeval();
  bool String(std::string* text = nullptr);  // "no string" reads as empty
  bool SampleFormat();
  bool ChannelMap(std::vector<uint8_t>* positions);  // positions may be null
  bool Volume();
  bool Properties(PropertyList* properties);  // properties may be null

 private:
  bool Take(char type, size_t size, std::string_view* taken);
  std::string_view rest_;
};
