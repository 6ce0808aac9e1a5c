// From keyboard events to key texts, and the Esc check.
#include <gtest/gtest.h>

#include <string>

#include "console/key_events.h"
#include "fake_platform.h"
#include "text_bytes.h"

namespace {

using platform::kCapsLockOn;
using platform::kLeftAltPressed;
using platform::kRightAltPressed;
using platform::kShiftPressed;

struct KeyCase {
  const char* name;
  platform::KeyEvent event;
  std::string key_text;
};

class KeyTextTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyTextTest, MatchesKeyboardRules) {
  ResetFake();
  Fake().key_events = {GetParam().event};
  EXPECT_EQ(ToString(PollKey()), GetParam().key_text);
  EXPECT_TRUE(Fake().key_events.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Events, KeyTextTest,
    ::testing::Values(
        KeyCase{"Letter", KeyPress('a', 0x1E), "a"},
        KeyCase{"EscWithCharacter", KeyPress(27, 0x01), "\x1b"},
        KeyCase{"EscWithoutCharacterIsStillEsc", KeyPress(0, 0x01), "\x1b"},
        KeyCase{"EscWithoutCharacterUnderCapsLock", KeyPress(0, 0x01, kCapsLockOn), "\x1b"},
        KeyCase{"CursorUp", KeyPress(0, 0x48), std::string("\0\x48", 2)},
        KeyCase{"F1", KeyPress(0, 0x3B), std::string("\0\x3b", 2)},
        KeyCase{"AltLetterIsTwoBytes", KeyPress('a', 0x1E, kLeftAltPressed), std::string("\0\x1e", 2)},
        KeyCase{"RightAltLetterIsTwoBytes", KeyPress('p', 0x19, kRightAltPressed), std::string("\0\x19", 2)},
        KeyCase{"AltFirstLetterOfTopRow", KeyPress('q', 0x10, kLeftAltPressed), std::string("\0\x10", 2)},
        KeyCase{"AltLastLetterOfMiddleRow", KeyPress('l', 0x26, kLeftAltPressed), std::string("\0\x26", 2)},
        KeyCase{"AltFirstLetterOfBottomRow", KeyPress('z', 0x2C, kLeftAltPressed), std::string("\0\x2c", 2)},
        KeyCase{"AltLastLetterOfBottomRow", KeyPress('m', 0x32, kLeftAltPressed), std::string("\0\x32", 2)},
        KeyCase{"AltDigitStaysOneByte", KeyPress('1', 0x02, kLeftAltPressed), "1"},
        KeyCase{"CapsShiftDigitGivesSymbol", KeyPress('1', 0x02, kCapsLockOn | kShiftPressed), "!"},
        KeyCase{"CapsSymbolGivesDigit", KeyPress('!', 0x02, kCapsLockOn), "1"},
        KeyCase{"CapsLeavesLettersAlone", KeyPress('A', 0x1E, kCapsLockOn), "A"},
        KeyCase{"CapsSwapsSlashKey", KeyPress('/', 0x35, kCapsLockOn | kShiftPressed), "?"},
        KeyCase{"ControlC", KeyPress(3, 0x2E), "\x03"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PollKeyTest, SkipsReleasesModifiersAndOtherEvents) {
  ResetFake();
  platform::KeyEvent mouse;  // not a key event
  Fake().key_events = {mouse, KeyPress(0, 0x2A), KeyRelease('q', 0x10), KeyPress(0, 0x1D), KeyPress(0, 0x36),
                       KeyPress(0, 0x38), KeyPress(0, 0x3A), KeyPress(0, 0x45), KeyPress(0, 0x46), EscPress(),
                       KeyPress('z', 0x2C)};
  EXPECT_TRUE(EscPressed());
  ASSERT_EQ(Fake().key_events.size(), 1u);
  EXPECT_EQ(ToString(PollKey()), "z");
  EXPECT_EQ(ToString(PollKey()), "");
  EXPECT_EQ(CharCode(PollKey()), -1);
}

TEST(PollKeyTest, TypedAheadKeysComeInOrder) {
  ResetFake();
  Fake().key_events = {KeyPress('a', 0x1E), KeyPress('b', 0x30), KeyPress('c', 0x2E), EscPress()};
  EXPECT_FALSE(EscPressed());
  EXPECT_FALSE(EscPressed());
  EXPECT_FALSE(EscPressed());
  EXPECT_TRUE(EscPressed());
  EXPECT_FALSE(EscPressed());
}

TEST(CharCodeTest, FirstByteUnsigned) {
  EXPECT_EQ(CharCode(Text::FromLiteral("\xff")), 255);
  EXPECT_EQ(CharCode(Text::FromBytes("\0x", 2)), 0);
  EXPECT_EQ(CharCode(Text()), -1);
}

}  // namespace
