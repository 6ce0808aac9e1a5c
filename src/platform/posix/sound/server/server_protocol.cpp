// The values of the sound server's protocol messages, written and read.
#include "platform/posix/sound/server/server_protocol.h"

#include <utility>

uint32_t ReadBe32(const char* bytes) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes);
  return static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
         static_cast<uint32_t>(b[2]) << 8 | b[3];
}

void PutBe32(char* bytes, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (24 - 8 * i)) & 0xFF);
}

void AppendBe32(std::string* bytes, uint32_t value) {
  char word[4];
  PutBe32(word, value);
  bytes->append(word, sizeof word);
}

void TagWriter::Raw32(uint32_t value) { AppendBe32(&bytes_, value); }

void TagWriter::U32(uint32_t value) {
  bytes_ += protocol::kTagU32;
  Raw32(value);
}

void TagWriter::U8(uint8_t value) {
  bytes_ += protocol::kTagU8;
  bytes_ += static_cast<char>(value);
}

void TagWriter::String(const char* text) {
  if (text == nullptr) {
    bytes_ += protocol::kTagNoString;
    return;
  }
  bytes_ += protocol::kTagString;
  bytes_ += text;
  bytes_ += '\0';
}

void TagWriter::Bool(bool value) { bytes_ += value ? protocol::kTagTrue : protocol::kTagFalse; }

void TagWriter::Usec(uint64_t value) {
  bytes_ += protocol::kTagUsec;
  Raw32(static_cast<uint32_t>(value >> 32));
  Raw32(static_cast<uint32_t>(value));
}

void TagWriter::Timeval(uint64_t microseconds) {
  bytes_ += protocol::kTagTimeval;
  Raw32(static_cast<uint32_t>(microseconds / 1000000));
  Raw32(static_cast<uint32_t>(microseconds % 1000000));
}

void TagWriter::SampleFormat(uint8_t format, uint8_t channels, uint32_t rate) {
  bytes_ += protocol::kTagSampleFormat;
  bytes_ += static_cast<char>(format);
  bytes_ += static_cast<char>(channels);
  Raw32(rate);
}

void TagWriter::ChannelMap(const std::vector<uint8_t>& positions) {
  bytes_ += protocol::kTagChannelMap;
  bytes_ += static_cast<char>(positions.size());
  for (const uint8_t position : positions) bytes_ += static_cast<char>(position);
}

void TagWriter::Volume(const std::vector<uint32_t>& channels) {
  bytes_ += protocol::kTagVolume;
  bytes_ += static_cast<char>(channels.size());
  for (const uint32_t value : channels) Raw32(value);
}

void TagWriter::Arbitrary(std::string_view data) {
  bytes_ += protocol::kTagArbitrary;
  Raw32(static_cast<uint32_t>(data.size()));
  bytes_ += data;
}

void TagWriter::Properties(const PropertyList& properties) {
  bytes_ += protocol::kTagProperties;
  for (const auto& [key, value] : properties) {
    String(key.c_str());
    U32(static_cast<uint32_t>(value.size()));
    Arbitrary(value);
  }
  String(nullptr);
}

bool TagReader::Take(char type, size_t size, std::string_view* taken) {
  if (rest_.size() < 1 + size || rest_[0] != type) {
    rest_ = {};
    return false;
  }
  *taken = rest_.substr(1, size);
  rest_.remove_prefix(1 + size);
  return true;
}

bool TagReader::U32(uint32_t* value) {
  std::string_view taken;
  if (!Take(protocol::kTagU32, 4, &taken)) return false;
  *value = ReadBe32(taken.data());
  return true;
}

bool TagReader::U64(char type, uint64_t* value) {
  std::string_view taken;
  if (!Take(type, 8, &taken)) return false;
  *value = static_cast<uint64_t>(ReadBe32(taken.data())) << 32 | ReadBe32(taken.data() + 4);
  return true;
}

bool TagReader::Bool(bool* value) {
  if (rest_.empty() || (rest_[0] != protocol::kTagTrue && rest_[0] != protocol::kTagFalse)) {
    rest_ = {};
    return false;
  }
  *value = rest_[0] == protocol::kTagTrue;
  rest_.remove_prefix(1);
  return true;
}

bool TagReader::Timeval() {
  std::string_view taken;
  return Take(protocol::kTagTimeval, 8, &taken);
}

bool TagReader::String(std::string* text) {
  if (text != nullptr) text->clear();
  if (!rest_.empty() && rest_[0] == protocol::kTagNoString) {
    rest_.remove_prefix(1);
    return true;
  }
  const size_t end = rest_.find('\0');
  if (rest_.empty() || rest_[0] != protocol::kTagString || end == std::string_view::npos) {
    rest_ = {};
    return false;
  }
  if (text != nullptr) text->assign(rest_.substr(1, end - 1));
  rest_.remove_prefix(end + 1);
  return true;
}

bool TagReader::SampleFormat() {
  std::string_view taken;
  return Take(protocol::kTagSampleFormat, 6, &taken);
}

bool TagReader::ChannelMap(std::vector<uint8_t>* positions) {
  const auto count = rest_.size() < 2 ? 0 : static_cast<uint8_t>(rest_[1]);
  std::string_view taken;
  if (count > protocol::kMaxChannels || !Take(protocol::kTagChannelMap, 1u + count, &taken)) {
    rest_ = {};
    return false;
  }
  if (positions != nullptr) positions->assign(taken.begin() + 1, taken.end());
  return true;
}

bool TagReader::Volume() {
  const auto count = rest_.size() < 2 ? 0 : static_cast<uint8_t>(rest_[1]);
  std::string_view taken;
  if (count > protocol::kMaxChannels || !Take(protocol::kTagVolume, 1u + 4u * count, &taken)) {
    rest_ = {};
    return false;
  }
  return true;
}

// A key, the value's length, then the value; "no string" ends the list.
bool TagReader::Properties(PropertyList* properties) {
  std::string_view taken;
  if (!Take(protocol::kTagProperties, 0, &taken)) return false;
  if (properties != nullptr) properties->clear();
  for (;;) {
    if (!rest_.empty() && rest_[0] == protocol::kTagNoString) {
      rest_.remove_prefix(1);
      return true;
    }
    std::string key;
    uint32_t size = 0;
    std::string_view value;
    if (!String(&key) || key.empty() || !U32(&size) || rest_.size() < 5 || ReadBe32(rest_.data() + 1) != size ||
        size > rest_.size() ||
        !Take(protocol::kTagArbitrary, 4 + size_t{size}, &value)) {
      rest_ = {};
      return false;
    }
    if (properties != nullptr) properties->emplace_back(std::move(key), std::string(value.substr(4)));
  }
}
