#include "text/text.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "platform/platform.h"

// Storage of one non-empty text: a share count, the length, the bytes and a
// zero byte. Shared by every copy; nothing changes it after it is filled.
struct Text::Storage {
  void (*release)(void*);  // the allocator's, even if another is in use by then
  uint32_t shares;
  int32_t length;
  char bytes[1];
};

namespace {

TextAllocator DefaultAllocator() {
  return {platform::AllocateTextStorage, platform::ReleaseTextStorage};
}

TextAllocator allocator = DefaultAllocator();

const char* command_tail = nullptr;


bool EndsWith(const char* bytes, int32_t length, const Text& pattern) {
  const int32_t pattern_length = pattern.Length();
  return length >= pattern_length &&
         std::memcmp(bytes + length - pattern_length, pattern.Bytes(), pattern_length) == 0;
}

}  // namespace

void SetTextAllocator(const TextAllocator& replacement) { allocator = replacement; }
void UseDefaultTextAllocator() { allocator = DefaultAllocator(); }

Text::Storage* Text::Allocate(int32_t length) {
  if (length <= 0) return nullptr;
  const uint64_t size = offsetof(Storage, bytes) + static_cast<uint64_t>(length) + 1;
  if (size > UINT32_MAX) return nullptr;
  auto* storage = static_cast<Storage*>(allocator.allocate(static_cast<uint32_t>(size)));
  if (storage == nullptr) return nullptr;
  storage->release = allocator.release;
  storage->shares = 1;
  storage->length = length;
  storage->bytes[length] = '\0';
  return storage;
}

Text::Text(const Text& other) : storage_(other.storage_) {
  if (storage_ != nullptr) ++storage_->shares;
}

Text::Text(Text&& other) noexcept : storage_(other.storage_) { other.storage_ = nullptr; }

Text& Text::operator=(const Text& other) {
  Text copy(other);
  std::swap(storage_, copy.storage_);
  return *this;
}

Text& Text::operator=(Text&& other) noexcept {
  std::swap(storage_, other.storage_);
  return *this;
}

Text::~Text() {
  if (storage_ != nullptr && --storage_->shares == 0) storage_->release(storage_);
}

Text Text::FromBytes(const char* bytes, int32_t length) {
  TextBuilder builder(length);
  if (!builder.Ok() || length <= 0) return Text();
  std::memcpy(builder.Bytes(), bytes, static_cast<size_t>(length));
  return builder.Finish();
}

Text Text::FromLiteral(const char* literal) {
  return FromBytes(literal, static_cast<int32_t>(std::strlen(literal)));
}

int32_t Text::Length() const { return storage_ == nullptr ? 0 : storage_->length; }

const char* Text::Bytes() const { return storage_ == nullptr ? nullptr : storage_->bytes; }

uint8_t Text::ByteAt(int32_t position) const {
  return static_cast<uint8_t>(storage_->bytes[position - 1]);
}

TextBuilder::TextBuilder(int32_t length) : text_(Text::Allocate(length)), length_(length) {}

char* TextBuilder::Bytes() { return text_.storage_ == nullptr ? nullptr : text_.storage_->bytes; }

Text TextBuilder::Finish() { return std::move(text_); }

// ---- The command tail ------------------------------------------------------

const char* SkipProgramName(const char* line) {
  const auto* p = reinterpret_cast<const unsigned char*>(line);
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;  // no closing quote: the tail is empty
    while (*p == ' ') ++p;
  } else if (*p == ' ') {
    while (*p == ' ') ++p;
  } else if (*p != '\0') {
    ++p;
    while (*p > ' ') ++p;
    if (*p == ' ') {
      while (*p == ' ') ++p;
    }
  }
  return reinterpret_cast<const char*>(p);
}

void SetCommandTailStart(const char* tail) { command_tail = tail; }

Text CommandTail() {
  if (command_tail == nullptr) return Text();
  return Text::FromBytes(command_tail, static_cast<int32_t>(std::strlen(command_tail)));
}

// ---- Operations --------------------------------------------------------------

Text UpperCaseText(const Text& text) {
  const int32_t length = text.Length();
  TextBuilder builder(length);
  if (length == 0 || !builder.Ok()) return text;
  char* out = builder.Bytes();
  for (int32_t i = 0; i < length; ++i) {
    uint8_t byte = static_cast<uint8_t>(text.Bytes()[i]);
    if (byte >= 'a' && byte <= 'z') {
      byte = static_cast<uint8_t>(byte - 32);
    } else {
      // The small letters of code page 437 that have capitals there.
      switch (byte) {
        case 0x84: byte = 0x8E; break;  // a umlaut
        case 0x94: byte = 0x99; break;  // o umlaut
        case 0x81: byte = 0x9A; break;  // u umlaut
        case 0x82: byte = 0x90; break;  // e acute
        case 0xA4: byte = 0xA5; break;  // n tilde
        case 0x86: byte = 0x8F; break;  // a ring
        case 0x87: byte = 0x80; break;  // c cedilla
        default: break;
      }
    }
    out[i] = static_cast<char>(byte);
  }
  return builder.Finish();
}

int32_t FindText(int32_t start, const Text& text, const Text& pattern) {
  const int32_t length = text.Length();
  if (length == 0) return 0;
  if (start <= 0 || start - 1 >= length) return 0;
  const int32_t pattern_length = pattern.Length();
  if (pattern_length == 0) return start;
  for (int32_t p = start; p - 1 + pattern_length <= length; ++p) {
    if (std::memcmp(text.Bytes() + p - 1, pattern.Bytes(), static_cast<size_t>(pattern_length)) == 0) {
      return p;
    }
  }
  return 0;
}

Text TextBefore(int32_t start, const Text& text, const Text& delimiter) {
  const int32_t length = text.Length();
  if (length == 0 || start <= 0 || start - 1 >= length) return Text();
  const int32_t found = delimiter.Length() == 0 ? 0 : FindText(start, text, delimiter);
  const int32_t end = found == 0 ? length + 1 : found;  // one past the last character taken
  if (start == 1 && end == length + 1) return text;
  return MidText(text, start, end - start);
}

Text TrimTrailing(const Text& text, const Text& pattern) {
  const int32_t pattern_length = pattern.Length();
  int32_t length = text.Length();
  if (length == 0 || pattern_length == 0 || pattern_length > length) return text;
  while (length > 0 && EndsWith(text.Bytes(), length, pattern)) length -= pattern_length;
  if (length == text.Length()) return text;
  if (length == 0) return Text();
  TextBuilder builder(length);
  if (!builder.Ok()) return text;
  std::memcpy(builder.Bytes(), text.Bytes(), static_cast<size_t>(length));
  return builder.Finish();
}

Text TrimLeading(const Text& text, const Text& pattern) {
  const int32_t pattern_length = pattern.Length();
  const int32_t length = text.Length();
  if (length == 0 || pattern_length == 0 || pattern_length > length) return text;
  int32_t skipped = 0;
  while (length - skipped >= pattern_length &&
         std::memcmp(text.Bytes() + skipped, pattern.Bytes(), static_cast<size_t>(pattern_length)) == 0) {
    skipped += pattern_length;
  }
  if (skipped == 0) return text;
  if (skipped == length) return Text();
  TextBuilder builder(length - skipped);
  if (!builder.Ok()) return text;
  std::memcpy(builder.Bytes(), text.Bytes() + skipped, static_cast<size_t>(length - skipped));
  return builder.Finish();
}

// Without storage for the blank itself the text comes back unchanged.
Text TrimTrailing(const Text& text) { return TrimTrailing(text, Text::FromLiteral(" ")); }

Text TrimLeading(const Text& text) { return TrimLeading(text, Text::FromLiteral(" ")); }

Text MidText(const Text& text, int32_t start, int32_t count) {
  const int32_t length = text.Length();
  if (length == 0 || start <= 0 || start - 1 >= length || count <= 0) return Text();
  const int32_t available = length - (start - 1);
  const int32_t taken = count < available ? count : available;
  if (start == 1 && taken == length) return text;
  TextBuilder builder(taken);
  if (!builder.Ok()) return text;
  std::memcpy(builder.Bytes(), text.Bytes() + start - 1, static_cast<size_t>(taken));
  return builder.Finish();
}

int32_t TextLength(const Text& text) { return text.Length(); }

Text JoinText(const Text& first, const Text& second) {
  const int64_t total = static_cast<int64_t>(first.Length()) + second.Length();
  if (total == 0 || total > INT32_MAX) return Text();
  if (second.Length() == 0) return first;
  if (first.Length() == 0) return second;
  TextBuilder builder(static_cast<int32_t>(total));
  if (!builder.Ok()) return Text();
  std::memcpy(builder.Bytes(), first.Bytes(), static_cast<size_t>(first.Length()));
  std::memcpy(builder.Bytes() + first.Length(), second.Bytes(), static_cast<size_t>(second.Length()));
  return builder.Finish();
}

bool TextEquals(const Text& first, const Text& second) {
  return first.Length() == second.Length() &&
         (first.Length() == 0 ||
          std::memcmp(first.Bytes(), second.Bytes(), static_cast<size_t>(first.Length())) == 0);
}

Text CharText(int32_t code) {
  const char byte = static_cast<char>(code & 0xFF);
  return Text::FromBytes(&byte, 1);
}

// ---- Zero-terminated buffers -------------------------------------------------

Text ReadBufferText(const char* buffer) {
  if (buffer == nullptr) return Text();
  return Text::FromBytes(buffer, static_cast<int32_t>(std::strlen(buffer)));
}

void StoreBufferText(const Text& text, char* buffer, int32_t capacity) {
  if (buffer == nullptr || capacity < 0) return;
  const int32_t count = text.Length() < capacity ? text.Length() : capacity;
  if (count > 0) std::memcpy(buffer, text.Bytes(), static_cast<size_t>(count));
  buffer[count] = '\0';
}

const char* ToSystemText(const Text& text) { return text.Bytes(); }
