// Directory search on Windows.
#include <windows.h>

#include <cstring>

#include "platform/platform.h"

namespace {

void Fill(const WIN32_FIND_DATAA& found, platform::FindData* data) {
  data->attributes = found.dwFileAttributes;
  static_assert(sizeof(data->name) == sizeof(found.cFileName));
  std::memcpy(data->name, found.cFileName, sizeof(data->name));
  data->name[sizeof(data->name) - 1] = '\0';
}

}  // namespace

namespace platform {

SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return kInvalidSearch;
  Fill(found, data);
  return reinterpret_cast<SearchHandle>(search);
}

bool FindNextEntry(SearchHandle search, FindData* data) {
  WIN32_FIND_DATAA found{};
  if (!FindNextFileA(reinterpret_cast<HANDLE>(search), &found)) return false;
  Fill(found, data);
  return true;
}

bool CloseSearch(SearchHandle search) { return FindClose(reinterpret_cast<HANDLE>(search)) != FALSE; }

}  // namespace platform
