#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <string>

#include "text_bytes.h"

namespace {

constexpr int32_t kEverything = std::numeric_limits<int32_t>::max();

// ---- The command tail ------------------------------------------------------------

struct TailCase {
  const char* why;
  std::string line;
  std::string tail;
};

TEST(CommandTailTest, SkipsTheProgramNameAndTheBlanksAfterIt) {
  const TailCase cases[] = {
      {"name, blank, tail", "PELDO.EXE ding /q", "ding /q"},
      {"blanks at the end of the tail stay", "PELDO.EXE   ding  ", "ding  "},
      {"no tail", "PELDO.EXE", ""},
      {"a tab is not skipped", "PELDO.EXE\tding", "\tding"},
      {"a control byte starts the tail", "PELDO.EXE\x01ding", "\x01ding"},
      {"a leading blank means an empty name", " ding", "ding"},
      {"leading blanks all go", "   ding /q", "ding /q"},
      {"bytes above 127 belong to the name", "PEL\xE9\xFF ding", "ding"},
      {"a quote inside the name is an ordinary byte", "PEL\"DO ding", "ding"},
      {"a quoted path with blanks", "\"C:\\Program Files\\PELDO.EXE\"  ding", "ding"},
      {"nothing needed after the closing quote", "\"C:\\Tools\\PELDO.EXE\"ding", "ding"},
      {"a tab after the closing quote stays", "\"C:\\Tools\\PELDO.EXE\"\tding", "\tding"},
      {"an empty quoted name", "\"\" ding", "ding"},
      {"blanks only after the quoted name", "\"PELDO\"   ", ""},
      {"quotes in the tail are kept", "PELDO \"my ding\" /q", "\"my ding\" /q"},
      {"a first byte below 32 belongs to the name", "\tding", ""},
      {"a missing closing quote leaves no tail", "\"C:\\Tools\\PELDO.EXE ding", ""},
      {"a lone quote", "\"", ""},
      {"the empty command line", "", ""},
  };
  for (const TailCase& c : cases) {
    const char* line = c.line.c_str();
    const char* tail = SkipProgramName(line);
    // The tail must lie within the line, never past its terminating zero.
    ASSERT_GE(tail, line) << c.why;
    ASSERT_LE(tail, line + c.line.size()) << c.why;
    EXPECT_EQ(std::string(tail), c.tail) << c.why;
  }
}

TEST(CommandTailTest, EachRequestGivesAFreshEqualCopy) {
  static const char kLine[] = "PELDO ding /r3";
  SetCommandTailStart(SkipProgramName(kLine));
  const Text first = CommandTail();
  const Text second = CommandTail();
  EXPECT_EQ(ToString(first), "ding /r3");
  EXPECT_TRUE(TextEquals(first, second));
  EXPECT_EQ(ToString(UpperCaseText(first)), "DING /R3");
  EXPECT_EQ(ToString(second), "ding /r3");
  SetCommandTailStart(nullptr);
}

// ---- Upper case ------------------------------------------------------------------

TEST(UpperCaseTextTest, WholeTextsKeepTheirLength) {
  const struct {
    const char* why;
    std::string text;
    std::string expected;
  } cases[] = {
      {"option text", "ding /r3 /v50", "DING /R3 /V50"},
      {"code page letters among others", "\x84 \x87z\x8E", "\x8E \x80Z\x8E"},
      {"a zero byte stays and the length holds", std::string("a\0b", 3), std::string("A\0B", 3)},
      {"the empty text", "", ""},
  };
  for (const auto& c : cases) {
    const Text text = ToText(c.text);
    EXPECT_EQ(ToString(UpperCaseText(text)), c.expected) << c.why;
    EXPECT_EQ(ToString(text), c.text) << c.why << ": the operand changed";
  }
}

TEST(UpperCaseTextTest, EveryByteOnItsOwn) {
  // a umlaut, o umlaut, u umlaut, e acute, n tilde, a ring, c cedilla of
  // code page 437; every other byte outside a-z, capitals included, stays.
  const std::map<uint8_t, uint8_t> code_page_capitals = {{0x84, 0x8E}, {0x94, 0x99}, {0x81, 0x9A},
                                                         {0x82, 0x90}, {0xA4, 0xA5}, {0x86, 0x8F},
                                                         {0x87, 0x80}};
  for (int byte = 0; byte < 256; ++byte) {
    const char c = static_cast<char>(byte);
    const Text upper = UpperCaseText(Text::FromBytes(&c, 1));
    ASSERT_EQ(upper.Length(), 1) << byte;
    int expected = byte;
    if (byte >= 'a' && byte <= 'z') expected = byte - 32;
    if (const auto capital = code_page_capitals.find(static_cast<uint8_t>(byte));
        capital != code_page_capitals.end()) {
      expected = capital->second;
    }
    EXPECT_EQ(upper.ByteAt(1), expected) << "byte " << byte;
  }
}

// ---- Searching and cutting ---------------------------------------------------------

TEST(FindTextTest, LeftmostWholeMatchAtOrAfterStart) {
  const struct {
    const char* why;
    int32_t start;
    std::string text;
    std::string pattern;
    int32_t expected;
  } cases[] = {
      {"an option", 1, "DING /Q", "/Q", 6},
      {"the repeat option", 1, "DING /R3 /V50", "/R", 6},
      {"the volume option", 1, "DING /R3 /V50", "/V", 10},
      {"case counts", 1, "ding /q", "/Q", 0},
      {"the first of two", 1, "A /R1 /R2", "/R", 3},
      {"from a later start", 4, "A /R1 /R2", "/R", 7},
      {"a match at the start position", 3, "A /R1", "/R", 3},
      {"overlapping candidates", 1, "//Q", "/Q", 2},
      {"a match may not run past the end", 1, "DING /", "/R", 0},
      {"a pattern longer than the text", 1, "/", "/R", 0},
      {"a match may not take in the terminating zero", 1, "DING", std::string("G\0", 2), 0},
      {"a dot in a directory part", 1, "dir.d/ding", ".", 4},
      {"a match in the last character", 4, "DIN.", ".", 4},
      {"the empty pattern gives the start", 3, "DING", "", 3},
      {"the empty pattern at the last character", 4, "DING", "", 4},
      {"the empty text", 1, "", "", 0},
      {"the empty text with a pattern", 1, "", "/Q", 0},
      {"start one past the end", 5, "DING", "", 0},
      {"start 0", 0, "DING", "D", 0},
      {"a negative start", -1, "DING", "D", 0},
      {"the largest start", kEverything, "DING", "D", 0},
      {"the smallest start", std::numeric_limits<int32_t>::min(), "DING", "", 0},
      {"bytes after a zero byte are searched", 1, std::string("a\0/Q", 4), "/Q", 3},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindText(c.start, ToText(c.text), ToText(c.pattern)), c.expected) << c.why;
  }
}

TEST(TextBeforeTest, CharactersUpToTheWholeDelimiter) {
  const struct {
    const char* why;
    int32_t start;
    std::string text;
    std::string delimiter;
    std::string expected;
  } cases[] = {
      {"the blank before the slash stays", 1, "ding /q", "/", "ding "},
      {"no delimiter gives the whole text", 1, "ding", "/", "ding"},
      {"a delimiter first gives nothing", 1, "/q", "/", ""},
      {"a quoted name", 1, "\"my ding\" /q", "/", "\"my ding\" "},
      {"from a later start", 3, "a/b/c", "/", "b"},
      {"the delimiter right at start", 2, "a/b", "/", ""},
      {"a delimiter before start is not seen", 3, "a/bc", "/", "bc"},
      {"the delimiter is a whole text, not a set", 1, "a/b-/c", "-/", "a/b"},
      {"the empty delimiter gives the rest", 3, "ding", "", "ng"},
      {"the empty text", 1, "", "/", ""},
      {"start beyond the last character", 5, "ding", "/", ""},
  };
  for (const auto& c : cases) {
    const Text text = ToText(c.text);
    EXPECT_EQ(ToString(TextBefore(c.start, text, ToText(c.delimiter))), c.expected) << c.why;
    EXPECT_EQ(ToString(text), c.text) << c.why << ": the operand changed";
  }
}

TEST(TrimTest, QuotesOffTheNameField) {
  // As the name field is cleaned: trailing quotes, then leading ones.
  const Text quote = CharText(34);
  const struct {
    const char* why;
    std::string field;
    std::string expected;
  } cases[] = {
      {"a quoted name", "\"my ding\"", "my ding"},
      {"doubled quotes", "\"\"ding\"\"", "ding"},
      {"a lone quote", "\"", ""},
      {"a blank after the closing quote keeps it", "\"my ding\" ", "my ding\" "},
      {"no quotes", "ding", "ding"},
      {"a quote inside stays", "my\"ding", "my\"ding"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToString(TrimLeading(TrimTrailing(ToText(c.field), quote), quote)), c.expected) << c.why;
  }
}

TEST(TrimTest, BlanksOffTheName) {
  const struct {
    const char* why;
    std::string name;
    std::string expected;
  } cases[] = {
      {"blanks at both ends", "  ding  ", "ding"},
      {"a tab stays", "\tding ", "\tding"},
      {"a tab at the end stays", " ding\t", "ding\t"},
      {"blanks inside stay", " my ding ", "my ding"},
      {"only blanks", "   ", ""},
      {"no blanks", "ding", "ding"},
      {"the empty text", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToString(TrimTrailing(TrimLeading(ToText(c.name)))), c.expected) << c.why;
  }
}

TEST(TrimTest, ThePatternIsAWholeText) {
  const struct {
    const char* why;
    bool trailing;
    std::string text;
    std::string pattern;
    std::string expected;
  } cases[] = {
      {"every repetition at the end goes", true, "aabab", "ab", "a"},
      {"every repetition at the start goes", false, "ababb", "ab", "b"},
      {"only repetitions leave nothing", true, "abab", "ab", ""},
      {"a partial repetition at the end stays", true, "aaa", "aa", "a"},
      {"a partial repetition at the start stays", false, "aaa", "aa", "a"},
      {"the reversed pattern is not trimmed", true, "abba", "ab", "abba"},
      {"not a set of characters", false, "baab", "ab", "baab"},
      {"a pattern longer than the text", true, "ab", "abc", "ab"},
      {"the empty pattern", false, "ab", "", "ab"},
      {"the empty text", true, "", "ab", ""},
  };
  for (const auto& c : cases) {
    const Text text = ToText(c.text);
    const Text pattern = ToText(c.pattern);
    const Text trimmed = c.trailing ? TrimTrailing(text, pattern) : TrimLeading(text, pattern);
    EXPECT_EQ(ToString(trimmed), c.expected) << c.why;
    EXPECT_EQ(ToString(text), c.text) << c.why << ": the operand changed";
  }
}

TEST(MidTextTest, UpToCountBytesFromStart) {
  const struct {
    const char* why;
    std::string text;
    int32_t start;
    int32_t count;
    std::string expected;
  } cases[] = {
      {"after /R, to the end", "DING /R3 /V50", 8, kEverything, "3 /V50"},
      {"after /V, to the end", "DING /R3 /V50", 12, kEverything, "50"},
      {"/R last: one past the end", "DING /R", 8, kEverything, ""},
      {"a count inside the text", "DING", 1, 2, "DI"},
      {"a count past the end", "DING", 3, 10, "NG"},
      {"the last character", "DING", 4, 1, "G"},
      {"the whole text", "DING", 1, 4, "DING"},
      {"count 0", "DING", 2, 0, ""},
      {"the empty text", "", 1, kEverything, ""},
      {"start far beyond the end", "DING", kEverything, kEverything, ""},
      {"start and count near the limit", "DING", 2, kEverything, "ING"},
  };
  for (const auto& c : cases) {
    const Text text = ToText(c.text);
    EXPECT_EQ(ToString(MidText(text, c.start, c.count)), c.expected) << c.why;
    EXPECT_EQ(ToString(text), c.text) << c.why << ": the operand changed";
  }
}

// ---- Joining, comparing, single characters -------------------------------------------

TEST(JoinTextTest, FirstThenSecond) {
  const struct {
    const char* why;
    std::string first;
    std::string second;
    std::string expected;
  } cases[] = {
      {"a command string", "open ", "\"ding.WAV\"", "open \"ding.WAV\""},
      {"the empty first", "", "ding", "ding"},
      {"the empty second", "ding", "", "ding"},
      {"both empty", "", "", ""},
      {"zero bytes are kept", std::string("a\0", 2), std::string("\0b", 2),
       std::string("a\0\0b", 4)},
  };
  for (const auto& c : cases) {
    const Text joined = JoinText(ToText(c.first), ToText(c.second));
    EXPECT_EQ(ToString(joined), c.expected) << c.why;
    EXPECT_EQ(TextLength(joined), static_cast<int32_t>(c.expected.size())) << c.why;
  }
}

TEST(TextEqualsTest, SameLengthAndSameBytes) {
  const struct {
    const char* why;
    std::string first;
    std::string second;
    bool expected;
  } cases[] = {
      {"the mode reply", "playing", "playing", true},
      {"case counts", "playing", "Playing", false},
      {"a prefix is not equal", "playing", "playin", false},
      {"a trailing blank counts", "playing", "playing ", false},
      {"both empty", "", "", true},
      {"empty against one byte", "", "p", false},
      {"bytes after a zero byte count", std::string("a\0b", 3), std::string("a\0c", 3), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TextEquals(ToText(c.first), ToText(c.second)), c.expected) << c.why;
    EXPECT_EQ(TextEquals(ToText(c.second), ToText(c.first)), c.expected) << c.why << ", swapped";
  }
}

TEST(CharTextTest, OneByteFromTheLowEightBits) {
  const struct {
    const char* why;
    int32_t code;
    std::string expected;
  } cases[] = {
      {"the double quote", 34, "\""},
      {"a byte above 127", 0xE9, "\xE9"},
      {"higher bits are dropped", 0x141, "A"},
      {"a negative code", -1, "\xFF"},
      {"code 0 is a one-byte text", 0, std::string(1, '\0')},
      {"code 256 is a zero byte", 256, std::string(1, '\0')},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToString(CharText(c.code)), c.expected) << c.why;
  }
}

// ---- Zero-terminated buffers -------------------------------------------------------------

constexpr int32_t kNameCapacity = 127;

// A name buffer with bytes to spare, filled with a marker so that any byte
// written beyond the stored text shows.
struct MarkedBuffer {
  char bytes[kNameCapacity + 8];
  MarkedBuffer() { std::memset(bytes, '#', sizeof bytes); }
  int32_t MarkersFrom(int32_t index) const {
    int32_t count = 0;
    for (size_t i = index; i < sizeof bytes; ++i) count += bytes[i] == '#' ? 1 : 0;
    return count;
  }
};

// GCC 12 at -O3 takes the copy inside `"\"" + std::string(...)`, once
// inlined, for an overlapping memcpy (GCC bug 105651); it reports it at
// the rows below and at the function's end.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wpragmas"  // the next line is for clang
#pragma GCC diagnostic ignored "-Wunknown-warning-option"
#pragma GCC diagnostic ignored "-Wrestrict"
TEST(BufferTextTest, StoresAtMostCapacityBytesAndAZero) {
  const struct {
    const char* why;
    std::string text;
    int32_t capacity;
    std::string stored;
  } cases[] = {
      {"a long text is cut", std::string(130, 'n'), kNameCapacity, std::string(127, 'n')},
      {"a text of the capacity fits whole", std::string(127, 'n'), kNameCapacity,
       std::string(127, 'n')},
      {"a short name", "ding", kNameCapacity, "ding"},
      {"the empty text", "", kNameCapacity, ""},
      {"capacity 0", "ding", 0, ""},
      {"a 126-character name loses its closing quote", "\"" + std::string(126, 'n') + "\"",
       kNameCapacity, "\"" + std::string(126, 'n')},
      {"a 125-character name keeps both quotes", "\"" + std::string(125, 'n') + "\"", kNameCapacity,
       "\"" + std::string(125, 'n') + "\""},
  };
  for (const auto& c : cases) {
    MarkedBuffer buffer;
    StoreBufferText(ToText(c.text), buffer.bytes, c.capacity);
    const int32_t end = static_cast<int32_t>(c.stored.size());
    EXPECT_EQ(std::string(buffer.bytes, end), c.stored) << c.why;
    EXPECT_EQ(buffer.bytes[end], '\0') << c.why;
    // Nothing is padded: every byte past the zero is as it was.
    EXPECT_EQ(buffer.MarkersFrom(end + 1), static_cast<int32_t>(sizeof buffer.bytes) - end - 1)
        << c.why;
    EXPECT_EQ(ToString(ReadBufferText(buffer.bytes)), c.stored) << c.why;
  }
}
#pragma GCC diagnostic pop

TEST(BufferTextTest, ReadStopsAtTheFirstZeroByte) {
  MarkedBuffer buffer;
  StoreBufferText(ToText(std::string("ab\0cd", 5)), buffer.bytes, kNameCapacity);
  EXPECT_EQ(ToString(ReadBufferText(buffer.bytes)), "ab");
  EXPECT_EQ(ToString(ReadBufferText("")), "");
  EXPECT_EQ(ReadBufferText(nullptr).Length(), 0);
}

TEST(ToSystemTextTest, ZeroTerminatedBytesOrNull) {
  EXPECT_EQ(ToSystemText(Text()), nullptr);
  EXPECT_EQ(ToSystemText(ToText("")), nullptr);
  EXPECT_EQ(ToSystemText(TrimTrailing(ToText("   "))), nullptr);
  const Text name = ToText("\"ding.WAV\"");
  const char* bytes = ToSystemText(name);
  ASSERT_NE(bytes, nullptr);
  EXPECT_STREQ(bytes, "\"ding.WAV\"");
  // A text cut from another is zero-terminated at its own end.
  const Text cut = MidText(ToText("ding.WAV"), 1, 4);
  EXPECT_STREQ(ToSystemText(cut), "ding");
}

// ---- Value semantics -----------------------------------------------------------------------

TEST(TextValueTest, CopiesAreIndependentValues) {
  Text original = ToText("ding");
  Text copy = original;
  original = ToText("dong");
  EXPECT_EQ(ToString(copy), "ding");
  EXPECT_EQ(ToString(original), "dong");

  Text moved = std::move(copy);
  EXPECT_EQ(ToString(moved), "ding");

  const Text& same = moved;
  moved = same;
  EXPECT_EQ(ToString(moved), "ding");

  Text outlives;
  {
    const Text scoped = ToText("scoped");
    outlives = scoped;
  }
  EXPECT_EQ(ToString(outlives), "scoped");
  EXPECT_EQ(outlives.ByteAt(1), 's');
  EXPECT_EQ(outlives.ByteAt(6), 'd');
}

// ---- When storage runs out -------------------------------------------------------------

// Counts what is allocated and released, and refuses once `allowed` reaches 0
// (a negative `allowed` never refuses).
struct CountingAllocator {
  static inline int32_t allowed = -1;
  static inline int32_t allocations = 0;
  static inline int32_t releases = 0;

  static void* Allocate(uint32_t size) {
    if (allowed == 0) return nullptr;
    if (allowed > 0) --allowed;
    ++allocations;
    return std::malloc(size);
  }
  static void Release(void* storage) {
    if (storage == nullptr) return;
    ++releases;
    std::free(storage);
  }
};

class TextStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CountingAllocator::allowed = -1;
    CountingAllocator::allocations = 0;
    CountingAllocator::releases = 0;
    SetTextAllocator({CountingAllocator::Allocate, CountingAllocator::Release});
  }
  void TearDown() override { UseDefaultTextAllocator(); }

  static int32_t Live() { return CountingAllocator::allocations - CountingAllocator::releases; }
};

TEST_F(TextStorageTest, EachOperationFallsBackWhenStorageRunsOut) {
  static const char kLine[] = "PELDO ding /q";
  SetCommandTailStart(SkipProgramName(kLine));
  const Text slash = ToText("/");
  const Text tail = ToText("ding /q");
  const Text option_text = ToText("DING /R3");
  const Text padded = ToText("  ding  ");
  const struct {
    const char* why;
    int32_t allowed;  // allocations that still succeed
    std::function<Text()> operation;
    std::string expected;
  } cases[] = {
      {"upper case gives its operand", 0, [&] { return UpperCaseText(tail); }, "ding /q"},
      {"the name field gives the whole tail", 0, [&] { return TextBefore(1, tail, slash); },
       "ding /q"},
      {"the middle part gives its operand", 0, [&] { return MidText(option_text, 8, kEverything); },
       "DING /R3"},
      {"the trailing blank trim gives its operand", 0, [&] { return TrimTrailing(padded); },
       "  ding  "},
      {"the leading blank trim gives its operand", 0, [&] { return TrimLeading(padded); },
       "  ding  "},
      {"the trailing blank trim, blank but no result", 1, [&] { return TrimTrailing(padded); },
       "  ding  "},
      {"the leading blank trim, blank but no result", 1, [&] { return TrimLeading(padded); },
       "  ding  "},
      {"the command tail is empty", 0, [] { return CommandTail(); }, ""},
      {"a character is empty", 0, [] { return CharText(34); }, ""},
      {"a buffer's text is empty", 0, [] { return ReadBufferText("ding"); }, ""},
      {"a joined text is empty", 0, [&] { return JoinText(slash, tail); }, ""},
      {"a literal is empty", 0, [] { return Text::FromLiteral("playing"); }, ""},
  };
  for (const auto& c : cases) {
    CountingAllocator::allowed = c.allowed;
    const Text result = c.operation();
    CountingAllocator::allowed = -1;
    EXPECT_EQ(ToString(result), c.expected) << c.why;
  }
  EXPECT_EQ(ToString(tail), "ding /q");
  EXPECT_EQ(ToString(padded), "  ding  ");
  SetCommandTailStart(nullptr);
}

TEST_F(TextStorageTest, OperationsWithoutNewStorageStillWork) {
  const Text option_text = ToText("DING /Q");
  const Text pattern = ToText("/Q");
  CountingAllocator::allowed = 0;
  EXPECT_EQ(FindText(1, option_text, pattern), 6);
  EXPECT_EQ(TextLength(option_text), 7);
  EXPECT_TRUE(TextEquals(option_text, option_text));
  EXPECT_STREQ(ToSystemText(option_text), "DING /Q");
  char buffer[kNameCapacity + 1];
  StoreBufferText(option_text, buffer, kNameCapacity);
  EXPECT_STREQ(buffer, "DING /Q");
  // Results that are an operand or a copy of one need no storage either.
  EXPECT_EQ(ToString(JoinText(option_text, Text())), "DING /Q");
  EXPECT_EQ(ToString(MidText(option_text, 1, kEverything)), "DING /Q");
}

TEST_F(TextStorageTest, EveryAllocationIsReleased) {
  static const char kLine[] = "\"C:\\Tools\\PELDO.EXE\" \"my ding\"/r2 /v50";
  SetCommandTailStart(SkipProgramName(kLine));
  {
    // The driver's and the playback's use of texts, in one go.
    const Text quote = CharText(34);
    const Text option_text = UpperCaseText(CommandTail());
    const int32_t repeat_at = FindText(1, option_text, ToText("/R"));
    const Text repeat = MidText(option_text, repeat_at + 2, kEverything);
    Text name = TextBefore(1, CommandTail(), ToText("/"));
    name = TrimLeading(TrimTrailing(name, quote), quote);
    name = TrimTrailing(TrimLeading(name));
    name = JoinText(name, ToText(".WAV"));
    name = JoinText(JoinText(quote, name), quote);
    char buffer[kNameCapacity + 1];
    StoreBufferText(name, buffer, kNameCapacity);
    const Text stored = ReadBufferText(buffer);
    const Text command = JoinText(ToText("open "), stored);
    EXPECT_EQ(ToString(repeat), "2 /V50");
    EXPECT_EQ(ToString(command), "open \"my ding.WAV\"");
    EXPECT_GT(CountingAllocator::allocations, 10);
  }
  EXPECT_EQ(Live(), 0);
  SetCommandTailStart(nullptr);
}

TEST_F(TextStorageTest, FailedOperationsLeakNothing) {
  const Text text = ToText("  ding /q  ");
  const Text slash = ToText("/");
  const int32_t live_before = Live();
  for (int32_t allowed = 0; allowed < 3; ++allowed) {
    CountingAllocator::allowed = allowed;
    {
      [[maybe_unused]] const Text results[] = {
          UpperCaseText(text), TextBefore(1, text, slash), MidText(text, 3, 4), TrimTrailing(text),
          TrimLeading(text),   JoinText(text, slash),      CharText(65)};
    }
    CountingAllocator::allowed = -1;
    EXPECT_EQ(Live(), live_before) << "with " << allowed << " allocations allowed";
  }
}

TEST_F(TextStorageTest, StorageGoesBackToTheAllocatorThatGaveIt) {
  Text text = ToText("ding");
  ASSERT_EQ(Live(), 1);
  UseDefaultTextAllocator();
  text = Text();
  EXPECT_EQ(Live(), 0);
}

}  // namespace
