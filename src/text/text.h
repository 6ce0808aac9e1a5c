// Text values: counted byte strings with value semantics.
//
// A text is a run of bytes, one byte per character, with no code page. The
// empty text has no storage at all; every other text owns storage holding
// its length, its bytes and a zero byte, so it can be handed to the system as
// it stands. Storage is never changed once filled, so copies share it.
// Positions count from 1 and a search that finds nothing gives 0. No
// operation reports an error: when storage cannot be had, each gives the
// fallback result written next to it.
#pragma once

#include <cstdint>

class Text {
 public:
  Text() = default;
  Text(const Text& other);
  Text(Text&& other) noexcept;
  Text& operator=(const Text& other);
  Text& operator=(Text&& other) noexcept;
  ~Text();

  // A text holding a copy of `length` bytes; the empty text when `length`
  // is 0 or storage cannot be had.
  static Text FromBytes(const char* bytes, int32_t length);
  // A text holding the bytes of a zero-terminated literal.
  static Text FromLiteral(const char* literal);

  int32_t Length() const;
  // The bytes followed by a zero byte, or nullptr for the empty text.
  const char* Bytes() const;
  // The byte at 1-based `position`, read as 0..255; position must be valid.
  uint8_t ByteAt(int32_t position) const;

 private:
  struct Storage;
  explicit Text(Storage* storage) : storage_(storage) {}
  static Storage* Allocate(int32_t length);
  Storage* storage_ = nullptr;

  friend class TextBuilder;
};

// Fills the bytes of a new text before it is handed out as a value.
class TextBuilder {
 public:
  // Storage for `length` bytes; Ok() is false when none could be had.
  explicit TextBuilder(int32_t length);
  bool Ok() const { return text_.storage_ != nullptr || length_ == 0; }
  char* Bytes();
  Text Finish();

 private:
  Text text_;
  int32_t length_;
};

// Where text storage comes from. The default is the platform's allocator;
// tests swap in one that fails to see every fallback.
struct TextAllocator {
  void* (*allocate)(uint32_t size);
  void (*release)(void* storage);
};
void SetTextAllocator(const TextAllocator& allocator);
void UseDefaultTextAllocator();

// ---- The command tail ------------------------------------------------------

// Where the command tail begins in a zero-terminated command line: past the
// program name (quoted or not) and the blanks after it.
const char* SkipProgramName(const char* command_line);
// Records where the tail begins; the line must outlive the process's use.
void SetCommandTailStart(const char* tail);
// A fresh copy of the command tail (empty when storage cannot be had).
Text CommandTail();

// ---- Operations --------------------------------------------------------------

// a-z and seven code page 437 letters to their capitals, byte by byte.
// Fallback: `text` unchanged.
Text UpperCaseText(const Text& text);
// Leftmost 1-based position >= start where `pattern` occurs whole, else 0.
int32_t FindText(int32_t start, const Text& text, const Text& pattern);
// The characters from `start` up to the first `delimiter` (or the end).
// Fallback: `text` unchanged.
Text TextBefore(int32_t start, const Text& text, const Text& delimiter);
// Drops every whole repetition of `pattern` from the end (start) of `text`.
// Fallback: `text` unchanged.
Text TrimTrailing(const Text& text, const Text& pattern);
Text TrimLeading(const Text& text, const Text& pattern);
// The same, with one blank as the pattern.
Text TrimTrailing(const Text& text);
Text TrimLeading(const Text& text);
// Up to `count` bytes from 1-based `start`. Fallback: `text` unchanged.
Text MidText(const Text& text, int32_t start, int32_t count);
int32_t TextLength(const Text& text);
// `first` followed by `second`. Fallback: the empty text.
Text JoinText(const Text& first, const Text& second);
// Same length and same bytes.
bool TextEquals(const Text& first, const Text& second);
// One byte, the low 8 bits of `code`. Fallback: the empty text.
Text CharText(int32_t code);

// ---- Zero-terminated buffers -------------------------------------------------

// The bytes before the buffer's first zero byte; empty for a null buffer.
// Fallback: the empty text.
Text ReadBufferText(const char* buffer);
// Copies at most `capacity` bytes of `text` to the buffer's start and a zero
// byte after them; the rest of the buffer is left as it was.
void StoreBufferText(const Text& text, char* buffer, int32_t capacity);
// What a system call receives for a text: its zero-terminated bytes, or a
// null pointer for the empty text.
const char* ToSystemText(const Text& text);
