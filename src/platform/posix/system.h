// The POSIX platform: the process as a whole. The platform is split by what
// it owns: sound/ (decoding, output device, mixer), terminal/ (keys, mode,
// job control) and files/ (command line, names, search); this floor holds
// what every room may use (here: standard descriptors and output, the clock,
// quiet libraries, the user's entry), waits.*, the one bounded wait,
// worker.*, the thread each room hands a call that may block, utf8.h, and
// contract.cpp, the platform contract as a table of forwards to the rooms,
// where the waits join a room and the terminal so that neither calls the
// other.
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>

// The signals a fault of the program raises on the thread that made it.
// They are never blocked, on any thread: a fault that finds its signal
// blocked ends the process without a handler.
inline constexpr int kFaultSignals[] = {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS};

// First thing at start: descriptors 0, 1 and 2 that the caller left closed
// are opened on /dev/null, for reading only, so that nothing the program or a
// library opens later lands on them (and writes to a closed standard output
// still fail); the C library's stdout stream is pointed at /dev/null, since
// the program writes descriptor 1 itself and a library's printf is no text
// for the user.
void PrepareStandardDescriptors();

// The command line formed from argv; must stay valid until the process ends.
void SetProcessCommandLine(const char* line);
// The command line set last, "" before.
const char* ProcessCommandLine();

// One write to standard output, tried again when a stop interrupted it; as
// platform::WriteStandardOutput.
int32_t WriteOutputOnce(const char* bytes, uint32_t length, uint32_t* written);

// Milliseconds on the monotonic clock.
uint64_t ClockMilliseconds();

// Keeps the sound libraries from printing: the program writes nothing to
// standard error, and a library's complaint is no message for the user.
// Installs a silent error handler for ALSA and points the C library's
// stderr stream, through which the decoders' helpers (mpg123 on a damaged
// MP3, say) and the sound server's client library print, at /dev/null;
// descriptor 2 itself is left alone. Call before any ALSA or libsndfile
// call; later calls do nothing.
void SilenceLibraries();

// The password database's entry for the process's real user: the name and
// the home folder it gives. nullopt when it has none or cannot be read.
struct UserEntry {
  std::string name;
  std::string home;
};
std::optional<UserEntry> LookUpUser();
