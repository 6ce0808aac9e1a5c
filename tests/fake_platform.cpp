#include "fake_platform.h"

#include <cstdlib>
#include <cstring>

namespace {
FakePlatform* fake = new FakePlatform();

struct FakeSearch {
  std::vector<platform::FindData> entries;
  size_t next = 1;
};

// The quoted name of a media command: everything after the verb's blank,
// up to " mode" for a status query.
std::string NameIn(const std::string& command) {
  const size_t blank = command.find(' ');
  if (blank == std::string::npos) return "";
  std::string name = command.substr(blank + 1);
  const std::string mode = " mode";
  if (command.rfind("status ", 0) == 0 && name.size() >= mode.size() &&
      name.compare(name.size() - mode.size(), mode.size(), mode) == 0) {
    name.resize(name.size() - mode.size());
  }
  return name;
}

void Reply(const char* text, char* reply, uint32_t capacity) {
  if (reply == nullptr || capacity == 0) return;
  std::strncpy(reply, text, capacity - 1);
  reply[capacity - 1] = '\0';
}
}  // namespace

FakePlatform& Fake() { return *fake; }

void ResetFake() {
  delete fake;
  fake = new FakePlatform();
}

platform::KeyEvent KeyPress(uint8_t character, uint8_t scan_code, uint32_t control_state) {
  return {true, true, scan_code, character, control_state};
}
platform::KeyEvent KeyRelease(uint8_t character, uint8_t scan_code) {
  return {true, false, scan_code, character, 0};
}
platform::KeyEvent EscPress() { return KeyPress(27, 1); }

platform::FindData Entry(const std::string& name, uint32_t attributes) {
  platform::FindData data;
  data.attributes = attributes;
  std::strncpy(data.name, name.c_str(), sizeof data.name - 1);
  return data;
}

namespace platform {

const char* CommandLine() { return fake->command_line.c_str(); }
void TakeStartupHandles() {}

void* AllocateTextStorage(uint32_t size) { return std::malloc(size); }
void ReleaseTextStorage(void* storage) { std::free(storage); }

void ClearSystemError() { fake->system_error = 0; }
uint32_t SystemError() { return fake->system_error; }
uint32_t SuppressErrorPrompts() { return static_cast<uint32_t>(fake->prompts_suppressed++); }
void RestoreErrorPrompts(uint32_t previous) { fake->prompts_suppressed = static_cast<int>(previous); }

void PrepareConsole() {}

int32_t WriteStandardOutput(const char* bytes, uint32_t length, uint32_t* written) {
  if (fake->fail_writes) {
    *written = 0;
    fake->system_error = 6;
    return 0;
  }
  const uint32_t taken = length < fake->write_limit ? length : fake->write_limit;
  fake->writes.emplace_back(bytes, taken);
  fake->output.append(bytes, taken);
  *written = taken;
  return 1;
}

bool PeekKeyEvent(KeyEvent* event) {
  if (fake->key_events.empty()) return false;
  *event = fake->key_events.front();
  return true;
}

void RemoveKeyEvent() {
  if (!fake->key_events.empty()) fake->key_events.pop_front();
}

void WaitForKeyOrSoundEnd(uint32_t timeout_ms) {
  fake->waits.push_back(timeout_ms);
  // With nothing to wake it, a wait runs out its time; the sound, if any,
  // goes on meanwhile.
  if (fake->key_events.empty() && fake->polls_left == 0) fake->clock_ms += timeout_ms;
  if (fake->on_wait) fake->on_wait();
}

uint64_t MonotonicMilliseconds() { return fake->clock_ms; }

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  const std::string text = command == nullptr ? "" : command;
  fake->media_commands.push_back(text);
  const std::string name = NameIn(text);
  if (text.rfind("open ", 0) == 0) {
    const auto failure = fake->open_errors.find(name);
    if (failure != fake->open_errors.end()) return failure->second;
    fake->polls_left = fake->playing_polls;
    return 0;
  }
  if (text.rfind("status ", 0) == 0) {
    Reply(fake->polls_left > 0 ? "playing" : "stopped", reply, reply_capacity);
    if (fake->polls_left > 0) --fake->polls_left;
    ++fake->status_queries;
    if (fake->on_status) fake->on_status(fake->status_queries);
    return 0;
  }
  if (text.rfind("close ", 0) == 0) fake->polls_left = 0;
  return 0;
}

bool DescribeMediaError(uint32_t, char* buffer, uint32_t size) {
  if (!fake->describe_errors) return false;
  Reply(fake->error_description.c_str(), buffer, size);
  return true;
}

void SetWaveOutVolume(uint32_t volume_word) { fake->volume_words.push_back(volume_word); }

SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  fake->search_patterns.emplace_back(pattern);
  auto found = fake->searches.find(pattern);
  if (found == fake->searches.end() && fake->every_pattern_matches) {
    found = fake->searches.emplace(pattern, std::vector<FindData>{Entry("found.wav")}).first;
  }
  if (found == fake->searches.end() || found->second.empty()) {
    fake->system_error = 2;
    return kInvalidSearch;
  }
  auto* search = new FakeSearch{found->second};
  *data = search->entries[0];
  ++fake->open_searches;
  return reinterpret_cast<SearchHandle>(search);
}

bool FindNextEntry(SearchHandle handle, FindData* data) {
  auto* search = reinterpret_cast<FakeSearch*>(handle);
  if (search->next >= search->entries.size()) {
    fake->system_error = 18;
    return false;
  }
  *data = search->entries[search->next++];
  return true;
}

bool CloseSearch(SearchHandle handle) {
  delete reinterpret_cast<FakeSearch*>(handle);
  --fake->open_searches;
  return true;
}

}  // namespace platform
