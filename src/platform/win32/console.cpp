// The Windows console: the standard handles, text output and the keyboard.
#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/console_handles.h"

namespace {

ConsoleHandles handles;

// The cursor's size in percent of a cell, 0 when it cannot be read.
DWORD CursorSize(HANDLE console) {
  CONSOLE_CURSOR_INFO cursor{};
  if (!GetConsoleCursorInfo(console, &cursor)) return 0;
  return cursor.dwSize;
}

}  // namespace

const ConsoleHandles& CurrentConsoleHandles() { return handles; }

namespace platform {

void PrepareConsole() {
  handles.standard_error = GetStdHandle(STD_ERROR_HANDLE);
  handles.console_output = handles.standard_error;
  handles.standard_input = GetStdHandle(STD_INPUT_HANDLE);
  handles.standard_output = GetStdHandle(STD_OUTPUT_HANDLE);
  // Keys come from the console even when standard input is a file or pipe.
  handles.keyboard =
      CreateFileA("CONIN$", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);

  DWORD mode = 0;
  if (GetConsoleMode(handles.standard_output, &mode)) handles.console_output = handles.standard_output;
  SetConsoleMode(handles.console_output, ENABLE_PROCESSED_OUTPUT | ENABLE_WRAP_AT_EOL_OUTPUT);
  // No line input, no echo, no Ctrl+C processing: Ctrl+C arrives as a key.
  SetConsoleMode(handles.standard_input, 0);

  // The cursor is only ever made visible, and only when it has none.
  if (CursorSize(handles.console_output) == 0 && CursorSize(handles.standard_output) == 0) {
    const CONSOLE_CURSOR_INFO visible{1, TRUE};
    SetConsoleCursorInfo(handles.console_output, &visible);
  }
}

// A parent that passes its own standard handles in the start-up
// information gets the text on those; the console set-up is not redone.
void TakeStartupHandles() {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  GetStartupInfoA(&startup);
  if ((startup.dwFlags & STARTF_USESTDHANDLES) == 0) return;
  handles.standard_input = startup.hStdInput;
  handles.standard_output = startup.hStdOutput;
  handles.standard_error = startup.hStdError;
}

int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written) {
  DWORD count = 0;
  const BOOL succeeded = WriteFile(handles.standard_output, bytes, length, &count, nullptr);
  *written = count;
  return succeeded ? 1 : 0;
}

bool PeekKeyEvent(KeyEvent* event) {
  INPUT_RECORD record{};
  DWORD count = 0;
  if (!PeekConsoleInputA(handles.keyboard, &record, 1, &count) || count == 0) return false;
  *event = KeyEvent();
  if (record.EventType != KEY_EVENT) return true;
  const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
  event->is_key = true;
  event->key_down = key.bKeyDown != FALSE;
  event->scan_code = static_cast<uint8_t>(key.wVirtualScanCode & 0xFF);
  event->character = static_cast<uint8_t>(key.uChar.AsciiChar);
  event->control_state = key.dwControlKeyState;
  return true;
}

// Called only after PeekKeyEvent has shown an event, so it never blocks.
void RemoveKeyEvent() {
  INPUT_RECORD record{};
  DWORD count = 0;
  ReadConsoleInputA(handles.keyboard, &record, 1, &count);
}

// The console input is signalled while an event is pending. The end of the
// sound has no handle to wait on: the next status query notices it, so the
// wait is cut short for that query to come soon.
void WaitForKeyOrSoundEnd(uint32_t timeout_ms) {
  constexpr uint32_t kSoundEndCheckMs = 10;
  if (timeout_ms > kSoundEndCheckMs) timeout_ms = kSoundEndCheckMs;
  // Without a console there is nothing to wait on, but the pause stays: the
  // caller's loop must not spin.
  if (handles.keyboard == INVALID_HANDLE_VALUE ||
      WaitForSingleObject(handles.keyboard, timeout_ms) == WAIT_FAILED) {
    Sleep(timeout_ms);
  }
}

}  // namespace platform
