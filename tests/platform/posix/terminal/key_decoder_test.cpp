// Terminal bytes to key presses, and on to the key texts the player sees.
#include <gtest/gtest.h>

#include <string>

#include "console/key_events.h"
#include "platform/posix/terminal/key_decoder.h"
#include "text_bytes.h"

namespace {

struct DecodeCase {
  const char* name;
  std::string bytes;
  bool quiet;  // the terminal has been quiet since the last byte
  DecodeStatus status;
  size_t consumed;
  std::string key_text;  // what the player makes of the key press
};

class KeyDecoderTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(KeyDecoderTest, DecodesFirstKey) {
  const DecodeCase& c = GetParam();
  const DecodedKey key =
      DecodeKey(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size(), c.quiet);
  ASSERT_EQ(key.status, c.status);
  EXPECT_EQ(key.consumed, c.consumed);
  if (c.status != DecodeStatus::kKey) return;
  bool is_press = false;
  const Text text = KeyTextForEvent(key.event, &is_press);
  EXPECT_TRUE(is_press);
  EXPECT_EQ(ToString(text), c.key_text);
}

std::string Two(uint8_t scan) { return std::string(1, '\0') + static_cast<char>(scan); }

INSTANTIATE_TEST_SUITE_P(
    Sequences, KeyDecoderTest,
    ::testing::Values(
        DecodeCase{"LoneEscOnceQuiet", "\x1b", true, DecodeStatus::kKey, 1, "\x1b"},
        DecodeCase{"LoneEscWaitsForMore", "\x1b", false, DecodeStatus::kIncomplete, 0, ""},
        DecodeCase{"EscEscIsEsc", "\x1b\x1b", false, DecodeStatus::kKey, 2, "\x1b"},
        DecodeCase{"Letter", "a", false, DecodeStatus::kKey, 1, "a"},
        DecodeCase{"OnlyFirstOfTypedAhead", "abc\x1b", false, DecodeStatus::kKey, 1, "a"},
        DecodeCase{"ControlC", "\x03", false, DecodeStatus::kKey, 1, "\x03"},
        DecodeCase{"Enter", "\r", false, DecodeStatus::kKey, 1, "\r"},
        DecodeCase{"HighByte", "\xe9", false, DecodeStatus::kKey, 1, "\xe9"},
        DecodeCase{"Up", "\x1b[A", false, DecodeStatus::kKey, 3, Two(0x48)},
        DecodeCase{"Down", "\x1b[B", false, DecodeStatus::kKey, 3, Two(0x50)},
        DecodeCase{"Right", "\x1b[C", false, DecodeStatus::kKey, 3, Two(0x4D)},
        DecodeCase{"Left", "\x1b[D", false, DecodeStatus::kKey, 3, Two(0x4B)},
        DecodeCase{"ApplicationUp", "\x1bOA", false, DecodeStatus::kKey, 3, Two(0x48)},
        DecodeCase{"CtrlUp", "\x1b[1;5A", false, DecodeStatus::kKey, 6, Two(0x48)},
        DecodeCase{"Home", "\x1b[H", false, DecodeStatus::kKey, 3, Two(0x47)},
        DecodeCase{"EndTilde", "\x1b[4~", false, DecodeStatus::kKey, 4, Two(0x4F)},
        DecodeCase{"PageUp", "\x1b[5~", false, DecodeStatus::kKey, 4, Two(0x49)},
        DecodeCase{"PageDown", "\x1b[6~", false, DecodeStatus::kKey, 4, Two(0x51)},
        DecodeCase{"Insert", "\x1b[2~", false, DecodeStatus::kKey, 4, Two(0x52)},
        DecodeCase{"Delete", "\x1b[3~", false, DecodeStatus::kKey, 4, Two(0x53)},
        DecodeCase{"F1", "\x1bOP", false, DecodeStatus::kKey, 3, Two(0x3B)},
        DecodeCase{"F4", "\x1bOS", false, DecodeStatus::kKey, 3, Two(0x3E)},
        DecodeCase{"F5", "\x1b[15~", false, DecodeStatus::kKey, 5, Two(0x3F)},
        DecodeCase{"F10", "\x1b[21~", false, DecodeStatus::kKey, 5, Two(0x44)},
        DecodeCase{"F11", "\x1b[23~", false, DecodeStatus::kKey, 5, Two(0x85)},
        DecodeCase{"ShiftF12", "\x1b[24;2~", false, DecodeStatus::kKey, 7, Two(0x86)},
        DecodeCase{"LinuxConsoleF1", "\x1b[[A", false, DecodeStatus::kKey, 4, Two(0x3B)},
        DecodeCase{"AltLetter", "\x1bx", false, DecodeStatus::kKey, 2, Two(0x2D)},
        DecodeCase{"AltCapital", "\x1bQ", false, DecodeStatus::kKey, 2, Two(0x10)},
        DecodeCase{"AltDigitIsTheDigit", "\x1b" "1", false, DecodeStatus::kKey, 2, "1"},
        DecodeCase{"ShiftTab", "\x1b[Z", false, DecodeStatus::kKey, 3, "\t"},
        DecodeCase{"HalfSequenceWaits", "\x1b[1;", false, DecodeStatus::kIncomplete, 0, ""},
        DecodeCase{"HalfSequenceDroppedWhenQuiet", "\x1b[1;", true, DecodeStatus::kSkipped, 4, ""},
        DecodeCase{"SgrMouse", "\x1b[<0;10;5M", false, DecodeStatus::kSkipped, 10, ""},
        DecodeCase{"X10Mouse", "\x1b[M !!", false, DecodeStatus::kSkipped, 6, ""},
        DecodeCase{"FocusIn", "\x1b[I", false, DecodeStatus::kSkipped, 3, ""},
        DecodeCase{"PasteStart", "\x1b[200~", false, DecodeStatus::kSkipped, 6, ""},
        DecodeCase{"UnknownSequence", "\x1b[99x", false, DecodeStatus::kSkipped, 5, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScanCodeTest, UsLayoutKeys) {
  struct Case {
    char character;
    uint8_t scan;
    bool shifted;
  };
  const Case cases[] = {{'q', 0x10, false}, {'P', 0x19, true}, {'a', 0x1E, false}, {'m', 0x32, false},
                        {'1', 0x02, false}, {'!', 0x02, true}, {'0', 0x0B, false}, {'/', 0x35, false},
                        {'?', 0x35, true},  {' ', 0x39, false}, {'\\', 0x2B, false}, {'\x03', 0x2E, false}};
  for (const Case& c : cases) {
    bool shifted = false;
    EXPECT_EQ(ScanCodeForCharacter(static_cast<uint8_t>(c.character), &shifted), c.scan) << c.character;
    EXPECT_EQ(shifted, c.shifted) << c.character;
  }
}

}  // namespace
