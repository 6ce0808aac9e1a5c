// Files on POSIX: the command line, file names, directory search, and the
// one way to open a file without waiting on it, which the sound rooms use
// on their own threads. The rest runs on the main thread, except the
// directory search's reading, which runs on a worker of its own (worker.h)
// that the main thread waits for through the wait its caller hands in.
// Calls only the system (stat, readdir, open), the worker and the C
// library's case tables (letter_case.h), never sound or terminal code.
//
// Users name files as they would on Windows: "\" or "/" between directories,
// letters in any case, blanks and dots at the end of a name ignored, "*" and
// "?" as wildcards in a search. These functions find what such a name means
// here. Entries are examined with stat() and directories read with
// readdir(), so a FIFO or a device is never opened; but on a mount that has
// stopped answering either may block. None throws.
#pragma once

#include <dirent.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/waits.h"

// The program name, then each argument after one blank, unquoted. The
// program name is put in double quotes when it holds a blank or a control
// byte, so that the tail still begins after it. An argument that is an
// option (a "/" then q, r or v in either case, and no other "/") stays as it
// is; in every other argument "/" becomes "\".
std::string FormCommandLine(int argc, const char* const* argv);

// What platform::FindFirstEntry does, with the directory read on the
// search's worker while `wait` watches its descriptor, without a deadline.
// When the wait ends first (Esc), the search fails with EINTR, as one that
// found nothing, and the read goes on on the worker, which takes no new
// search until it is done (EAGAIN meanwhile).
platform::SearchHandle StartDirectorySearch(const char* pattern, platform::FindData* data, DescriptorWait wait);

// The path of the existing entry `name` names, for opening it. Each component
// is taken as it stands when it exists, otherwise as the entry whose name
// matches it regardless of letter case (letter_case.h), blanks and dots at
// its end ignored. A leading separator starts at the root, none at the current
// directory. "*" and "?" are plain characters here; a last component that
// holds one is taken only exactly as written. nullopt for a null or
// empty name, a name ending in a separator, a missing entry or a dangling
// symbolic link. The entry may be of any kind: check EntryAttributes before
// opening it if a FIFO or a device must not be opened.
std::optional<std::string> ResolveExistingPath(const char* name);

// Opens `path` for reading without waiting on it (a FIFO with no writer, a
// device), never as the controlling terminal, closed on exec. The
// descriptor, still non-blocking, or -1 with errno set.
int OpenWithoutBlocking(const std::string& path);

// The platform::kAttribute* bits of the entry at `path`, seen through
// symbolic links: hidden when its name begins with ".", directory, or system
// when it is neither a directory nor a regular file (FIFO, socket, device).
// nullopt when there is no entry or the link is dangling.
std::optional<uint32_t> EntryAttributes(const std::string& path);
// The same bits for an entry called `name` whose stat() mode (or the
// DTTOIF() of its readdir() type) is `mode`.
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

// A pattern matched against names as a Windows search matches them,
// regardless of letter case: "*" any run of characters, "?" any one
// character (or none at the end of the name or before a dot), and a dot
// followed only by wildcards also matches the end of a name without one, so
// "*.*" matches every name. Where both the pattern and a name are valid UTF-8
// a character is a code point, elsewhere a byte (letter_case.h). Names longer
// than 319 bytes, more than a directory entry can have, never match. The
// pattern is looked at once, so that matching each entry of a large folder
// allocates nothing and turns most names away after a look at their end.
// Refers to `pattern`, which must outlive it.
class WildcardPattern {
 public:
  explicit WildcardPattern(std::string_view pattern);
  bool Matches(std::string_view name) const;

 private:
  // False for some names that cannot match, never for one that can.
  bool EndsLikeTail(std::string_view name) const;
  // The pattern's characters are code points when `unicode`, the name's
  // when kMultibyteName (an ASCII name's bytes are its characters anyway).
  template <bool kMultibyteName>
  bool Walk(std::string_view name, bool unicode) const;

  std::string_view pattern_;
  // The plain characters every matching name ends with.
  std::string_view tail_;
  size_t tail_characters_;
  bool tail_ascii_;
  size_t last_plain_;
  bool unicode_;
  bool matches_every_name_;
};
