// The files room's own helpers, shared by its files and by no other room:
// names cut at their separators, components looked up regardless of letter
// case, directories opened for reading. None throws unless it says so.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// The platform::kAttribute* bits, as EntryAttributes (files.h) gives them,
// for an entry called `name` whose stat() mode (or the DTTOIF() of its
// readdir() type) is `mode`.
uint32_t ModeAttributes(mode_t mode, std::string_view name);

// A name cut at its last separator: the existing directory its directory
// part names ("" for the current one, "/" for the root) and the last
// component as written.
struct SplitName {
  std::string directory;
  std::string last;
};
// nullopt when the directory part names no directory.
std::optional<SplitName> ResolveDirectoryPart(std::string_view name);

// The name, as stored, of the entry of `directory` that `component` names
// under the rules of ResolveExistingPath; only directories when
// `directories_only`. Of several entries that differ in letter case only, the
// first in byte order.
std::optional<std::string> FindComponent(const std::string& directory, std::string_view component,
                                         bool directories_only);

// A directory opened for readdir(), closed with its owner.
struct DirectoryCloser {
  void operator()(DIR* directory) const { closedir(directory); }
};
using DirectoryStream = std::unique_ptr<DIR, DirectoryCloser>;

// Opens `directory` (as in SplitName: "" is the current one) for reading;
// null when it cannot be.
DirectoryStream OpenDirectoryStream(const std::string& directory);

// `name` inside `directory` (a directory as in SplitName).
std::string JoinPath(const std::string& directory, std::string_view name);

// The component without the blanks and dots at its end; "." and ".." keep
// their meaning.
std::string_view TrimComponentEnd(std::string_view component);

bool HasWildcard(std::string_view component);
