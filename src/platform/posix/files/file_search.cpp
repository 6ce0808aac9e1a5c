// Directory search on POSIX. A search reads the directory once, when it
// starts, and hands out its matches in name order regardless of letter case
// (the order a Windows file system delivers them in); but of each kind of
// entry (hidden or not; plain file, directory or anything else) only the
// first. A caller that passes over an entry for its kind would pass over the
// rest of that kind too, so they are neither kept nor examined further.
// The directory is read on the file system's worker: a folder on a mount
// that has stopped answering holds that thread, not the one that must hear
// Esc.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/files/letter_case.h"
#include "platform/posix/files/paths.h"
#include "platform/posix/files/wildcard_pattern.h"
#include "platform/posix/worker.h"

namespace {

// Names that do not fit the record whole are left out rather than cut.
bool FitsFindData(std::string_view name) { return name.size() < sizeof(platform::FindData::name); }

// Hidden or not, times plain file, directory or anything else.
constexpr size_t kKinds = 6;

size_t KindOf(uint32_t attributes) {
  const size_t hidden = (attributes & platform::kAttributeHidden) != 0 ? 3 : 0;
  if ((attributes & platform::kAttributeDirectory) != 0) return hidden + 1;
  if ((attributes & platform::kAttributeSystem) != 0) return hidden + 2;
  return hidden;
}

class Search {
 public:
  bool open = false;

  // Keeps the entry if it is the first of its kind so far.
  void Offer(std::string_view name, uint32_t attributes) {
    const size_t kind = KindOf(attributes);
    if (found_[kind] && !ComesBeforeIgnoringCase(name, firsts_[kind].name)) return;
    found_[kind] = true;
    firsts_[kind].attributes = attributes;
    std::memcpy(firsts_[kind].name, name.data(), name.size());
    firsts_[kind].name[name.size()] = '\0';
  }

  // Whether Offer could keep the entry, whatever kind it turns out to be.
  bool CouldKeep(std::string_view name) const {
    const size_t hidden = name[0] == '.' ? 3 : 0;
    for (size_t kind = hidden; kind < hidden + 3; ++kind) {
      if (!found_[kind] || ComesBeforeIgnoringCase(name, firsts_[kind].name)) return true;
    }
    return false;
  }

  // Puts what was kept in name order; false when nothing was.
  bool Finish() {
    count_ = 0;
    next_ = 0;
    for (size_t kind = 0; kind < kKinds; ++kind) {
      if (found_[kind]) order_[count_++] = kind;
    }
    std::sort(order_.begin(), order_.begin() + static_cast<std::ptrdiff_t>(count_),
              [&](size_t a, size_t b) {
                return ComesBeforeIgnoringCase(firsts_[a].name, firsts_[b].name);
              });
    return count_ > 0;
  }

  bool Next(platform::FindData* data) {
    if (next_ >= count_) return false;
    *data = firsts_[order_[next_++]];
    return true;
  }

 private:
  std::array<platform::FindData, kKinds> firsts_;
  std::array<bool, kKinds> found_{};
  std::array<size_t, kKinds> order_{};
  size_t count_ = 0;
  size_t next_ = 0;
};

// A lookup keeps one search open at a time; a few spare slots cost nothing.
std::array<Search, 8> searches;

void ReadDirectory(const char* pattern, Search& search) {
  if (pattern == nullptr) return;
  const std::optional<SplitName> split = ResolveDirectoryPart(pattern);
  if (!split || split->last.empty()) return;

  if (!HasWildcard(split->last)) {
    const std::optional<std::string> found = FindComponent(split->directory, split->last, false);
    if (!found || !FitsFindData(*found)) return;
    const std::optional<uint32_t> attributes = EntryAttributes(JoinPath(split->directory, *found));
    if (attributes) search.Offer(*found, *attributes);
    return;
  }

  const WildcardPattern wanted(TrimComponentEnd(split->last));
  const DirectoryStream reader = OpenDirectoryStream(split->directory);
  if (!reader) return;
  while (const dirent* entry = readdir(reader.get())) {
    const std::string_view name(entry->d_name);
    // Never wanted, and a hidden directory of their own kind may follow.
    if (name == "." || name == "..") continue;
    if (!FitsFindData(name) || !wanted.Matches(name)) continue;
    if (entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN) {
      search.Offer(name, ModeAttributes(DTTOIF(entry->d_type), name));
      continue;
    }
    // A link is judged by what it points to; only an entry that could be
    // kept is worth the stat(). A dangling link, or an entry gone since
    // readdir, is left out.
    struct stat info {};
    if (search.CouldKeep(name) && fstatat(dirfd(reader.get()), entry->d_name, &info, 0) == 0) {
      search.Offer(name, ModeAttributes(info.st_mode, name));
    }
  }
}

// The reader of directories and what it found. Made once and never
// destroyed: its thread may still be inside a read when the process ends.
struct DirectoryReader {
  Worker& worker = FileSystemWorker();
  // The worker's until Await hands them over.
  Search found;
  bool out_of_memory = false;
};

}  // namespace

Worker& FileSystemWorker() {
  // Never destroyed: its thread may still be inside a call at exit.
  static Worker* const worker = new Worker;
  return *worker;
}

namespace {

DirectoryReader& Reader() {
  static DirectoryReader* const reader = new DirectoryReader;
  return *reader;
}

// Reads the directory `pattern` names into `search` on the reader's thread,
// waiting through `wait` for as long as it takes. False, with errno set,
// when the wait gave up first, or no thread could be had.
bool ReadDirectoryOnWorker(const char* pattern, Search& search, DescriptorWait wait) {
  DirectoryReader& reader = Reader();
  const auto read = [&] {
    return [&reader, wanted = std::string(pattern != nullptr ? pattern : "")] {
      reader.found = Search();
      reader.out_of_memory = false;
      try {
        ReadDirectory(wanted.c_str(), reader.found);
      } catch (const std::exception&) {
        reader.out_of_memory = true;
      }
    };
  };
  // The answer, however late it comes, is the one it has always been.
  const std::optional<WaitEnd> end = reader.worker.Call(read, wait, INT_MAX);
  if (!end) {
    errno = EAGAIN;
    return false;
  }
  if (*end != WaitEnd::kReady) {
    errno = EINTR;
    return false;
  }
  if (reader.out_of_memory) {
    errno = ENOMEM;
    return false;
  }
  search = reader.found;
  return true;
}

Search* OpenSearch(platform::SearchHandle handle) {
  if (handle < 0 || static_cast<size_t>(handle) >= searches.size()) return nullptr;
  Search& search = searches[static_cast<size_t>(handle)];
  return search.open ? &search : nullptr;
}

}  // namespace

platform::SearchHandle StartDirectorySearch(const char* pattern, platform::FindData* data, DescriptorWait wait) {
  using platform::kInvalidSearch;
  if (data == nullptr) {
    errno = EINVAL;
    return kInvalidSearch;
  }
  for (size_t slot = 0; slot < searches.size(); ++slot) {
    Search& search = searches[slot];
    if (search.open) continue;
    search = Search();
    if (!ReadDirectoryOnWorker(pattern, search, wait)) return kInvalidSearch;
    if (!search.Finish()) {
      errno = ENOENT;
      return kInvalidSearch;
    }
    search.open = true;
    search.Next(data);
    errno = 0;
    return static_cast<platform::SearchHandle>(slot);
  }
  errno = EMFILE;
  return kInvalidSearch;
}

bool NextDirectoryEntry(platform::SearchHandle handle, platform::FindData* data) {
  Search* search = OpenSearch(handle);
  if (search == nullptr || data == nullptr) {
    errno = EBADF;
    return false;
  }
  if (!search->Next(data)) {
    errno = ENOENT;
    return false;
  }
  errno = 0;
  return true;
}

bool EndDirectorySearch(platform::SearchHandle handle) {
  Search* search = OpenSearch(handle);
  if (search == nullptr) {
    errno = EBADF;
    return false;
  }
  search->open = false;
  return true;
}
