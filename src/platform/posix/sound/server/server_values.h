// The values of the sound server's protocol messages: numbers in its byte
// order, and each value behind its type byte, written and read in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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
