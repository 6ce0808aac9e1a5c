// A platform that records what the core asks of it, for unit tests of the
// core and for the fuzzer. Nothing here touches the real system.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

struct FakePlatform {
  std::string command_line;

  // Standard output: every byte written, and each write call on its own.
  std::string output;
  std::vector<std::string> writes;
  bool fail_writes = false;     // writes report failure and take nothing
  uint32_t write_limit = ~0u;   // a write takes at most this many bytes

  // Sound: the commands sent, in order. An open of a name listed in
  // open_errors fails with that code; every other open succeeds and the
  // sound then answers "playing" to `playing_polls` status queries.
  std::vector<std::string> media_commands;
  std::map<std::string, uint32_t> open_errors;
  std::string error_description = "The device is not ready.";
  bool describe_errors = true;
  int playing_polls = 2;
  int polls_left = 0;
  // Called after each status query, with the count of queries so far.
  std::function<void(int)> on_status;
  int status_queries = 0;

  std::vector<uint32_t> volume_words;

  // Keyboard: pending events, oldest first.
  std::deque<platform::KeyEvent> key_events;
  std::vector<uint32_t> waits;  // timeout of each WaitForKeyOrSoundEnd
  std::function<void()> on_wait;  // called at the end of each wait
  uint64_t clock_ms = 0;

  // Directory search: the entries each exact pattern finds, in order.
  std::map<std::string, std::vector<platform::FindData>> searches;
  bool every_pattern_matches = false;  // any other pattern finds one plain file
  std::vector<std::string> search_patterns;
  int open_searches = 0;

  uint32_t system_error = 0;
  int prompts_suppressed = 0;  // depth; must be back at 0 after each call
};

// The one fake in use; ResetFake() gives a fresh one.
FakePlatform& Fake();
void ResetFake();

// Key events as a keyboard would report them.
platform::KeyEvent KeyPress(uint8_t character, uint8_t scan_code, uint32_t control_state = 0);
platform::KeyEvent KeyRelease(uint8_t character, uint8_t scan_code);
platform::KeyEvent EscPress();
platform::FindData Entry(const std::string& name, uint32_t attributes = 0);
