#include "text/file_lookup.h"

#include <cstring>

#include "platform/guarded_call.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kPatternLimit = 256;
constexpr char kEveryEntry[] = "*.*";

// One search at a time, kept open after the lookup until the next one
// closes it.
struct SearchState {
  platform::SearchHandle handle = platform::kInvalidSearch;
  uint32_t allowed_attributes = 0;
  platform::FindData data;
};
SearchState search_state;

bool Acceptable(const platform::FindData& data, uint32_t allowed) {
  constexpr uint32_t kChecked =
      platform::kAttributeHidden | platform::kAttributeSystem | platform::kAttributeDirectory;
  if ((data.attributes & kChecked & ~allowed) != 0) return false;
  const char* name = data.name;
  const bool dot_entry = name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
  return !dot_entry;
}

void ClearFindData(platform::FindData& data) {
  data.attributes = 0;
  data.name[0] = '\0';
}

}  // namespace

Text FindFileName(const Text& pattern, uint32_t allowed_attributes) {
  char work[kPatternLimit + sizeof(kEveryEntry)] = {};
  StoreBufferText(pattern, work, kPatternLimit);

  if (search_state.handle != platform::kInvalidSearch) {
    const platform::SearchHandle previous = search_state.handle;
    search_state.handle = platform::kInvalidSearch;
    GuardedSystemCall(platform::CloseSearch, previous);
  }

  // "C:" or "sounds\" stands for everything in that drive or directory.
  const size_t length = std::strlen(work);
  if (length > 0 && (work[length - 1] == ':' || work[length - 1] == '\\')) {
    std::memcpy(work + length, kEveryEntry, sizeof(kEveryEntry));
  }

  platform::FindData& data = search_state.data;
  const char* const search_pattern = work;
  const platform::SearchHandle handle =
      GuardedSystemCall(platform::FindFirstEntry, search_pattern, &data).result;
  if (handle == platform::kInvalidSearch) {
    ClearFindData(data);
    return Text();
  }
  search_state.handle = handle;
  search_state.allowed_attributes = allowed_attributes;

  while (!Acceptable(data, allowed_attributes)) {
    if (GuardedSystemCall(platform::FindNextEntry, handle, &data).failed) {
      ClearFindData(data);
      return Text();
    }
  }
  // The platform fills the name; never read past the record.
  data.name[sizeof(data.name) - 1] = '\0';
  return ReadBufferText(data.name);
}
