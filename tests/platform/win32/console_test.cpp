// The console layer against the real system. Some tests need a console
// (run the tests in a terminal); others need standard output to be a file;
// each says so and is skipped where its condition does not hold.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/guarded_call.h"
#include "platform/platform.h"
#include "platform/win32/console_handles.h"
#include "win32_support.h"

namespace {

// Puts a standard handle in place for one test and the old one back after;
// the console layer takes the handles anew each time it is prepared.
class StandardHandleSwap {
 public:
  StandardHandleSwap(DWORD which, HANDLE replacement) : which_(which), saved_(GetStdHandle(which)) {
    SetStdHandle(which_, replacement);
    platform::PrepareConsole();
  }
  ~StandardHandleSwap() {
    SetStdHandle(which_, saved_);
    platform::PrepareConsole();
  }
  StandardHandleSwap(const StandardHandleSwap&) = delete;
  StandardHandleSwap& operator=(const StandardHandleSwap&) = delete;

 private:
  DWORD which_;
  HANDLE saved_;
};

HANDLE CreateForWriting(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
}

HANDLE OpenConsoleInput() {
  return CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, 0, nullptr);
}

bool HaveConsole() {
  const HANDLE input = OpenConsoleInput();
  if (input == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  const bool console = GetConsoleMode(input, &mode) != FALSE;
  CloseHandle(input);
  return console;
}

TEST(WriteStandardOutputTest, BytesReachAFileUnchanged) {
  win32_test::ScratchDirectory scratch;
  const struct {
    const char* why;
    std::string bytes;
  } cases[] = {
      {"a lone LF and a tab are not translated", "a\nb\tc"},
      {"CR LF stays two bytes", "\r\n"},
      {"a zero byte is written like any other", std::string("x\0y", 3)},
      {"bytes above 127 are not converted", "\x84\x94\x81\xff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string path = scratch / "out.txt";
    const HANDLE file = CreateForWriting(path);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    {
      StandardHandleSwap swap(STD_OUTPUT_HANDLE, file);
      uint32_t written = 0;
      const auto call = GuardedSystemCall(platform::WriteStandardOutput, c.bytes.data(),
                                          static_cast<uint32_t>(c.bytes.size()), &written);
      EXPECT_EQ(call.result, 1);
      EXPECT_FALSE(call.failed);
      EXPECT_EQ(written, c.bytes.size());
    }
    CloseHandle(file);
    EXPECT_EQ(win32_test::ReadWholeFile(path), c.bytes);
  }
}

TEST(WriteStandardOutputTest, AWriteThatCannotBeMadeFailsAtOnce) {
  win32_test::ScratchDirectory scratch;
  ASSERT_TRUE(win32_test::WriteWholeFile(scratch / "in.txt", "text"));
  const HANDLE read_only = CreateFileA((scratch / "in.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(read_only, INVALID_HANDLE_VALUE);
  const struct {
    const char* why;
    HANDLE output;
    DWORD error;
  } cases[] = {
      {"no standard output", nullptr, ERROR_INVALID_HANDLE},
      {"an invalid handle", INVALID_HANDLE_VALUE, ERROR_INVALID_HANDLE},
      {"a file opened only for reading", read_only, ERROR_ACCESS_DENIED},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    StandardHandleSwap swap(STD_OUTPUT_HANDLE, c.output);
    uint32_t written = 99;
    const auto call = GuardedSystemCall(platform::WriteStandardOutput, "abc", 3u, &written);
    EXPECT_EQ(call.result, 0);
    EXPECT_TRUE(call.failed);
    EXPECT_EQ(call.error, static_cast<uint32_t>(c.error));
    EXPECT_EQ(written, 0u);
  }
  CloseHandle(read_only);
}

// Console modes and the cursor go to standard error when standard output
// is a file; text still goes to standard output.
TEST(PrepareConsoleTest, ConsoleOutputIsStandardErrorWhenOutputIsAFile) {
  win32_test::ScratchDirectory scratch;
  const HANDLE out = CreateForWriting(scratch / "out.txt");
  const HANDLE err = CreateForWriting(scratch / "err.txt");
  {
    StandardHandleSwap swap_err(STD_ERROR_HANDLE, err);
    StandardHandleSwap swap_out(STD_OUTPUT_HANDLE, out);
    const ConsoleHandles& handles = CurrentConsoleHandles();
    EXPECT_EQ(handles.standard_output, out);
    EXPECT_EQ(handles.standard_error, err);
    EXPECT_EQ(handles.console_output, err);
    EXPECT_EQ(handles.keyboard != INVALID_HANDLE_VALUE, HaveConsole());
  }
  CloseHandle(out);
  CloseHandle(err);
  EXPECT_EQ(win32_test::ReadWholeFile(scratch / "err.txt"), "");
}

TEST(PrepareConsoleTest, StandardInputGetsModeZeroOnAConsole) {
  if (!HaveConsole()) GTEST_SKIP() << "needs a console";
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!GetConsoleMode(input, &mode)) GTEST_SKIP() << "standard input is not the console";
  SetConsoleMode(input, ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  platform::PrepareConsole();
  ASSERT_TRUE(GetConsoleMode(input, &mode));
  EXPECT_EQ(mode, 0u);
}

// ---- Keys -------------------------------------------------------------------

// Writes events into the console's input queue as if typed; needs a console.
class KeyEventTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveConsole()) GTEST_SKIP() << "needs a console";
    queue_ = OpenConsoleInput();
    ASSERT_NE(queue_, INVALID_HANDLE_VALUE);
    platform::PrepareConsole();
    FlushConsoleInputBuffer(queue_);
  }
  void TearDown() override {
    if (queue_ == INVALID_HANDLE_VALUE) return;
    FlushConsoleInputBuffer(queue_);
    CloseHandle(queue_);
  }

  void Type(const std::vector<INPUT_RECORD>& records) {
    DWORD written = 0;
    ASSERT_TRUE(WriteConsoleInputA(queue_, records.data(), static_cast<DWORD>(records.size()), &written));
    ASSERT_EQ(written, records.size());
  }

  HANDLE queue_ = INVALID_HANDLE_VALUE;
};

INPUT_RECORD Key(bool down, WORD scan, char character, DWORD control = 0) {
  INPUT_RECORD record{};
  record.EventType = KEY_EVENT;
  record.Event.KeyEvent.bKeyDown = down;
  record.Event.KeyEvent.wRepeatCount = 1;
  record.Event.KeyEvent.wVirtualScanCode = scan;
  record.Event.KeyEvent.uChar.AsciiChar = character;
  record.Event.KeyEvent.dwControlKeyState = control;
  return record;
}

INPUT_RECORD Focus() {
  INPUT_RECORD record{};
  record.EventType = FOCUS_EVENT;
  record.Event.FocusEvent.bSetFocus = TRUE;
  return record;
}

TEST_F(KeyEventTest, EventsArriveAsTheKeyboardReportsThem) {
  const struct {
    const char* why;
    INPUT_RECORD record;
    platform::KeyEvent expected;
  } cases[] = {
      {"Esc as a terminal reports it: no character", Key(true, 1, 0), {true, true, 1, 0, 0}},
      {"a release", Key(false, 0x1E, 'a'), {true, false, 0x1E, 'a', 0}},
      {"modifier bits pass unchanged", Key(true, 0x1E, 'a', LEFT_ALT_PRESSED | CAPSLOCK_ON | SHIFT_PRESSED),
       {true, true, 0x1E, 'a', LEFT_ALT_PRESSED | CAPSLOCK_ON | SHIFT_PRESSED}},
      {"only the low byte of the scan code", Key(true, 0xE048, 0, ENHANCED_KEY), {true, true, 0x48, 0, ENHANCED_KEY}},
      {"a character above 127 is a byte, not a negative number", Key(true, 0x28, '\x84'),
       {true, true, 0x28, 0x84, 0}},
      {"not a key", Focus(), {false, false, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Type({c.record});
    platform::KeyEvent event;
    ASSERT_TRUE(platform::PeekKeyEvent(&event));
    EXPECT_EQ(event.is_key, c.expected.is_key);
    EXPECT_EQ(event.key_down, c.expected.key_down);
    EXPECT_EQ(event.scan_code, c.expected.scan_code);
    EXPECT_EQ(event.character, c.expected.character);
    EXPECT_EQ(event.control_state, c.expected.control_state);
    platform::RemoveKeyEvent();
    EXPECT_FALSE(platform::PeekKeyEvent(&event));
  }
}

TEST_F(KeyEventTest, PeekLeavesTheEventAndRemoveTakesTheOldest) {
  Type({Key(true, 0x1E, 'a'), Key(true, 0x30, 'b')});
  platform::KeyEvent event;
  ASSERT_TRUE(platform::PeekKeyEvent(&event));
  ASSERT_TRUE(platform::PeekKeyEvent(&event));
  EXPECT_EQ(event.character, 'a');
  platform::RemoveKeyEvent();
  ASSERT_TRUE(platform::PeekKeyEvent(&event));
  EXPECT_EQ(event.character, 'b');
  platform::RemoveKeyEvent();
  EXPECT_FALSE(platform::PeekKeyEvent(&event));
}

TEST_F(KeyEventTest, AWaitEndsAsSoonAsAKeyIsPending) {
  Type({Key(true, 0x1E, 'a')});
  const uint64_t start = platform::MonotonicMilliseconds();
  platform::WaitForKeyOrSoundEnd(5000);
  EXPECT_LT(platform::MonotonicMilliseconds() - start, 1000u);
}

// With nothing to wake it, a wait still pauses, with or without a console,
// so the poll loop never spins; it is cut short only to look for the end of
// the sound, which Windows cannot wait for.
TEST(WaitTest, AnEmptyQueuePausesWithoutSpinning) {
  platform::PrepareConsole();
  if (const HANDLE input = OpenConsoleInput(); input != INVALID_HANDLE_VALUE) {
    FlushConsoleInputBuffer(input);
    CloseHandle(input);
  }
  const uint64_t start = platform::MonotonicMilliseconds();
  for (int i = 0; i < 10; ++i) platform::WaitForKeyOrSoundEnd(200);
  const uint64_t waited = platform::MonotonicMilliseconds() - start;
  EXPECT_GE(waited, 80u);
  EXPECT_LT(waited, 2000u);
}

}  // namespace
