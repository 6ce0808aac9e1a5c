#include "platform/posix/path_resolver.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <vector>

#include "platform/platform.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view first, std::string_view second) {
  if (first.size() != second.size()) return false;
  for (size_t i = 0; i < first.size(); ++i) {
    if (LowerAscii(first[i]) != LowerAscii(second[i])) return false;
  }
  return true;
}

const char* SystemDirectory(const std::string& directory) {
  return directory.empty() ? "." : directory.c_str();
}

struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryReader = std::unique_ptr<DIR, DirectoryCloser>;

std::optional<std::string> FindComponentOrThrow(const std::string& directory,
                                                std::string_view component, bool directories_only) {
  auto fits = [&](std::string_view name) {
    const std::optional<uint32_t> attributes = EntryAttributes(JoinPath(directory, name));
    return attributes && (!directories_only || (*attributes & platform::kAttributeDirectory) != 0);
  };
  if (component.empty()) return std::nullopt;
  if (fits(component)) return std::string(component);
  const std::string_view wanted = TrimComponentEnd(component);
  if (wanted.empty()) return std::nullopt;
  if (wanted != component && fits(wanted)) return std::string(wanted);

  DirectoryReader reader(opendir(SystemDirectory(directory)));
  if (!reader) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = readdir(reader.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == ".." || !EqualsIgnoringCase(name, wanted)) continue;
    if (best && name >= *best) continue;
    if (fits(name)) best = std::string(name);
  }
  return best;
}

}  // namespace

std::string JoinPath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::string_view TrimComponentEnd(std::string_view component) {
  std::string_view without_blanks = component;
  while (!without_blanks.empty() && without_blanks.back() == ' ') without_blanks.remove_suffix(1);
  if (without_blanks == "." || without_blanks == "..") return without_blanks;
  while (!component.empty() && (component.back() == ' ' || component.back() == '.')) {
    component.remove_suffix(1);
  }
  return component;
}

bool HasWildcard(std::string_view component) {
  return component.find_first_of("*?") != std::string_view::npos;
}

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  // matches[i * columns + j]: pattern from i matches name from j. A table
  // rather than backtracking keeps "*a*a*a*..." linear in its size.
  const size_t columns = name.size() + 1;
  std::vector<char> matches((pattern.size() + 1) * columns, 0);
  auto at = [&](size_t i, size_t j) -> char& { return matches[i * columns + j]; };
  at(pattern.size(), name.size()) = 1;
  // Whether only wildcards follow pattern position i.
  bool wildcards_only_after = true;
  for (size_t i = pattern.size(); i-- > 0;) {
    const char p = pattern[i];
    for (size_t j = columns; j-- > 0;) {
      const bool at_end = j == name.size();
      const char n = at_end ? '\0' : name[j];
      bool result = false;
      if (p == '*') {
        result = at(i + 1, j) || (!at_end && at(i, j + 1));
      } else if (p == '?') {
        result = (!at_end && at(i + 1, j + 1)) || ((at_end || n == '.') && at(i + 1, j));
      } else if (p == '.') {
        result = (n == '.' && !at_end && at(i + 1, j + 1)) || (at_end && wildcards_only_after);
      } else {
        result = !at_end && LowerAscii(p) == LowerAscii(n) && at(i + 1, j + 1);
      }
      at(i, j) = result ? 1 : 0;
    }
    if (p != '*' && p != '?') wildcards_only_after = false;
  }
  return at(0, 0) != 0;
}

std::optional<uint32_t> EntryAttributes(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  uint32_t attributes = 0;
  if (S_ISDIR(info.st_mode)) {
    attributes |= platform::kAttributeDirectory;
  } else if (!S_ISREG(info.st_mode)) {
    attributes |= platform::kAttributeSystem;
  }
  const size_t slash = path.find_last_of('/');
  const std::string_view name = slash == std::string::npos
                                    ? std::string_view(path)
                                    : std::string_view(path).substr(slash + 1);
  if (!name.empty() && name[0] == '.') attributes |= platform::kAttributeHidden;
  return attributes;
}

std::optional<std::string> FindComponent(const std::string& directory, std::string_view component,
                                         bool directories_only) {
  try {
    return FindComponentOrThrow(directory, component, directories_only);
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<SplitName> ResolveDirectoryPart(std::string_view name) {
  try {
    const size_t cut = name.find_last_of("\\/");
    if (cut == std::string_view::npos) return SplitName{std::string(), std::string(name)};
    std::string directory = IsSeparator(name[0]) ? "/" : "";
    std::string_view rest = name.substr(0, cut);
    while (!rest.empty()) {
      const size_t end = rest.find_first_of("\\/");
      const std::string_view component = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (component.empty()) continue;
      const std::optional<std::string> found = FindComponentOrThrow(directory, component, true);
      if (!found) return std::nullopt;
      directory = JoinPath(directory, *found);
    }
    return SplitName{directory, std::string(name.substr(cut + 1))};
  } catch (...) {
    return std::nullopt;
  }
}

std::optional<std::string> ResolveExistingPath(const char* name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
  try {
    const std::optional<SplitName> split = ResolveDirectoryPart(name);
    if (!split) return std::nullopt;
    const std::optional<std::string> found =
        FindComponentOrThrow(split->directory, split->last, false);
    if (!found) return std::nullopt;
    return JoinPath(split->directory, *found);
  } catch (...) {
    return std::nullopt;
  }
}
