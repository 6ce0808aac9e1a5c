// The POSIX platform: the process as a whole. The platform is split by what
// it owns: sound/ (decoding, output device, mixer), terminal/ (keys, mode,
// job control) and files/ (command line, names, search); this floor holds
// what every room may use (here: standard descriptors and output, the clock,
// quiet libraries, the user's entry, the table of signals), waits.*, the one
// bounded wait, worker.*, the thread each room hands a call that may block,
// utf8.h, and contract.cpp, the platform contract as a table of forwards to
// the rooms, where the waits join a room and the terminal so that neither
// calls the other.
#pragma once

#include <signal.h>

#include <cstdint>
#include <optional>
#include <string>

// What the program does with each signal, the one place that says so: the
// terminal room installs its handlers from it (terminal.cpp) and every worker
// blocks what it says (worker.cpp). A signal the caller ignored stays
// ignored, whatever its kind.
enum class SignalKind {
  kLeftAlone,  // its default action suits (SIGCHLD, SIGWINCH, ...) or it cannot be caught
  kDeadly,     // ends the process: the terminal is given back first
  kFault,      // as kDeadly, but raised by a fault on the thread that made it,
               // so it is never blocked on any thread (blocked, it ends the
               // process without a handler)
  kStop,       // Ctrl+Z: the terminal is given back while stopped
  kStopOnOwnCall,  // SIGTTOU: a stop, or the terminal refusing our own mode call
                   // from the background, which must then fail instead
  kContinue,   // SIGCONT: the waits wake to take the terminal again
  kIgnored,    // SIGPIPE (a write to a reader gone fails instead) and SIGTTIN
               // (a read that loses a race with "bg" fails instead)
};
SignalKind KindOfSignal(int signal_number);

// The mask a worker thread runs with: every signal but the faults, so that
// signals reach the main thread, whose waits they are meant to interrupt.
sigset_t WorkerSignalMask();

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
