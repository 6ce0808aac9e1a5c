// Names resolved to the entries they mean, one component at a time.
#include "platform/posix/files/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <memory>

#include "platform/platform.h"
#include "platform/posix/files/letter_case.h"
#include "platform/posix/files/paths.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

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

  const DirectoryStream reader = OpenDirectoryStream(directory);
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

DirectoryStream OpenDirectoryStream(const std::string& directory) {
  return DirectoryStream(opendir(directory.empty() ? "." : directory.c_str()));
}

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

int OpenWithoutBlocking(const std::string& path) {
  return open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

uint32_t ModeAttributes(mode_t mode, std::string_view name) {
  uint32_t attributes = 0;
  if (S_ISDIR(mode)) {
    attributes |= platform::kAttributeDirectory;
  } else if (!S_ISREG(mode)) {
    attributes |= platform::kAttributeSystem;
  }
  if (!name.empty() && name[0] == '.') attributes |= platform::kAttributeHidden;
  return attributes;
}

std::optional<uint32_t> EntryAttributes(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return std::nullopt;
  const size_t slash = path.find_last_of('/');
  return ModeAttributes(info.st_mode, slash == std::string::npos
                                          ? std::string_view(path)
                                          : std::string_view(path).substr(slash + 1));
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
    // A last part with wildcards was typed as a search: it names a file only
    // as written, and looking for it case-blind would read the whole folder
    // a second time after the search.
    if (HasWildcard(split->last)) {
      std::string path = JoinPath(split->directory, split->last);
      if (!EntryAttributes(path)) return std::nullopt;
      return path;
    }
    const std::optional<std::string> found =
        FindComponentOrThrow(split->directory, split->last, false);
    if (!found) return std::nullopt;
    return JoinPath(split->directory, *found);
  } catch (...) {
    return std::nullopt;
  }
}
