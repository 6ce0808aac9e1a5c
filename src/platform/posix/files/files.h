// Files on POSIX: the command line, file names, directory search, and the
// one way to open a file without waiting on it, which the sound rooms use
// on their own threads. The rest runs on the main thread, except the
// directory search's reading, which runs on the file system's worker
// (FileSystemWorker below) while the main thread waits for it through the
// wait its caller hands in.
// Calls only the system (stat, readdir, open), the worker and the C
// library's case tables (letter_case.h), never sound or terminal code.
// What other rooms use is here; the room's own helpers are in paths.h and
// wildcard_pattern.h.
//
// Users name files as they would on Windows: "\" or "/" between directories,
// letters in any case, blanks and dots at the end of a name ignored, "*" and
// "?" as wildcards in a search. These functions find what such a name means
// here. Entries are examined with stat() and directories read with
// readdir(), so a FIFO or a device is never opened; but on a mount that has
// stopped answering either may block. None throws.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/waits.h"
#include "platform/posix/worker.h"

// The program name, then each argument after one blank, unquoted. The
// program name is put in double quotes when it holds a blank or a control
// byte, so that the tail still begins after it. An argument that is an
// option (a "/" then q, r or v in either case, and no other "/") stays as it
// is; in every other argument "/" becomes "\".
std::string FormCommandLine(int argc, const char* const* argv);

// The one thread for calls into the file system that may hang: the
// directory search and the opening of sound files (sound/decode) both run
// there, one after the other. A run that plays a file thus starts one thread
// for both; a new thread may wait a whole time slice for a core that other
// work holds, which a thread already started and waiting does not.
Worker& FileSystemWorker();

// What platform::FindFirstEntry does, with the directory read on the
// file system's worker while `wait` watches its descriptor, without a deadline.
// When the wait ends first (Esc), the search fails with EINTR, as one that
// found nothing, and the read goes on on the worker, which takes no new
// job until it is done (EAGAIN meanwhile).
platform::SearchHandle StartDirectorySearch(const char* pattern, platform::FindData* data, DescriptorWait wait);
// What platform::FindNextEntry and platform::CloseSearch do.
bool NextDirectoryEntry(platform::SearchHandle search, platform::FindData* data);
bool EndDirectorySearch(platform::SearchHandle search);

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
