// Directory search on POSIX. A search collects its matches when it starts,
// sorted by name regardless of letter case (the order a Windows file system
// delivers them in), and hands them out one by one.
#include <dirent.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/path_resolver.h"

namespace {

struct Match {
  std::string name;
  uint32_t attributes;
};

struct Search {
  bool open = false;
  std::vector<Match> matches;
  size_t next = 0;
};

// A lookup keeps one search open at a time; a few spare slots cost nothing.
std::array<Search, 8> searches;

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};

// Names that do not fit the record whole are left out rather than cut.
bool FitsFindData(std::string_view name) { return name.size() < sizeof(platform::FindData::name); }

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool ComesBefore(const Match& first, const Match& second) {
  const auto upper_less = [](char a, char b) {
    return static_cast<unsigned char>(UpperAscii(a)) < static_cast<unsigned char>(UpperAscii(b));
  };
  if (std::lexicographical_compare(first.name.begin(), first.name.end(), second.name.begin(),
                                   second.name.end(), upper_less)) {
    return true;
  }
  if (std::lexicographical_compare(second.name.begin(), second.name.end(), first.name.begin(),
                                   first.name.end(), upper_less)) {
    return false;
  }
  return first.name < second.name;
}

std::vector<Match> CollectMatches(const char* pattern) {
  std::vector<Match> matches;
  if (pattern == nullptr) return matches;
  const std::optional<SplitName> split = ResolveDirectoryPart(pattern);
  if (!split || split->last.empty()) return matches;

  if (!HasWildcard(split->last)) {
    const std::optional<std::string> found = FindComponent(split->directory, split->last, false);
    if (!found || !FitsFindData(*found)) return matches;
    const std::optional<uint32_t> attributes = EntryAttributes(JoinPath(split->directory, *found));
    if (attributes) matches.push_back({*found, *attributes});
    return matches;
  }

  const std::string_view wanted = TrimComponentEnd(split->last);
  std::unique_ptr<DIR, DirectoryCloser> reader(
      opendir(split->directory.empty() ? "." : split->directory.c_str()));
  if (!reader) return matches;
  while (const dirent* entry = readdir(reader.get())) {
    const std::string_view name(entry->d_name);
    if (!FitsFindData(name) || !MatchesWildcard(wanted, name)) continue;
    // A dangling link, or an entry gone since readdir, is left out.
    const std::optional<uint32_t> attributes = EntryAttributes(JoinPath(split->directory, name));
    if (attributes) matches.push_back({std::string(name), *attributes});
  }
  std::sort(matches.begin(), matches.end(), ComesBefore);
  return matches;
}

void Fill(platform::FindData* data, const Match& match) {
  data->attributes = match.attributes;
  const size_t length = std::min(match.name.size(), sizeof(data->name) - 1);
  std::memcpy(data->name, match.name.data(), length);
  data->name[length] = '\0';
}

Search* OpenSearch(platform::SearchHandle handle) {
  if (handle < 0 || static_cast<size_t>(handle) >= searches.size()) return nullptr;
  Search& search = searches[static_cast<size_t>(handle)];
  return search.open ? &search : nullptr;
}

}  // namespace

namespace platform {

SearchHandle FindFirstEntry(const char* pattern, FindData* data) {
  if (data == nullptr) {
    errno = EINVAL;
    return kInvalidSearch;
  }
  try {
    std::vector<Match> matches = CollectMatches(pattern);
    if (matches.empty()) {
      errno = ENOENT;
      return kInvalidSearch;
    }
    for (size_t slot = 0; slot < searches.size(); ++slot) {
      Search& search = searches[slot];
      if (search.open) continue;
      search.open = true;
      search.matches = std::move(matches);
      search.next = 1;
      Fill(data, search.matches[0]);
      errno = 0;
      return static_cast<SearchHandle>(slot);
    }
    errno = EMFILE;
  } catch (...) {
    errno = ENOMEM;
  }
  return kInvalidSearch;
}

bool FindNextEntry(SearchHandle handle, FindData* data) {
  Search* search = OpenSearch(handle);
  if (search == nullptr || data == nullptr) {
    errno = EBADF;
    return false;
  }
  if (search->next >= search->matches.size()) {
    errno = ENOENT;
    return false;
  }
  Fill(data, search->matches[search->next++]);
  errno = 0;
  return true;
}

bool CloseSearch(SearchHandle handle) {
  Search* search = OpenSearch(handle);
  if (search == nullptr) {
    errno = EBADF;
    return false;
  }
  *search = Search();
  return true;
}

}  // namespace platform
