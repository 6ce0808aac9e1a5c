// Process-wide services on POSIX: the command line, standard output, the
// clock, quiet libraries, the user's entry, and what each signal is.
#include "platform/posix/system.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <exception>
#include <vector>

#include "platform/platform.h"

namespace {

const char* command_line = "";

struct SignalRule {
  int number;
  SignalKind kind;
};

// The real-time signals, whose numbers are known only when the program runs,
// are deadly too; every signal not named here is left alone.
constexpr SignalRule kSignalTable[] = {
    {SIGHUP, SignalKind::kDeadly},       {SIGINT, SignalKind::kDeadly},
    {SIGQUIT, SignalKind::kDeadly},      {SIGUSR1, SignalKind::kDeadly},
    {SIGUSR2, SignalKind::kDeadly},      {SIGALRM, SignalKind::kDeadly},
    {SIGTERM, SignalKind::kDeadly},      {SIGSTKFLT, SignalKind::kDeadly},
    {SIGXCPU, SignalKind::kDeadly},      {SIGXFSZ, SignalKind::kDeadly},
    {SIGVTALRM, SignalKind::kDeadly},    {SIGPROF, SignalKind::kDeadly},
    {SIGIO, SignalKind::kDeadly},        {SIGPWR, SignalKind::kDeadly},
    {SIGILL, SignalKind::kFault},        {SIGTRAP, SignalKind::kFault},
    {SIGABRT, SignalKind::kFault},       {SIGBUS, SignalKind::kFault},
    {SIGFPE, SignalKind::kFault},        {SIGSEGV, SignalKind::kFault},
    {SIGSYS, SignalKind::kFault},        {SIGTSTP, SignalKind::kStop},
    {SIGTTOU, SignalKind::kStopOnOwnCall}, {SIGCONT, SignalKind::kContinue},
    {SIGPIPE, SignalKind::kIgnored},     {SIGTTIN, SignalKind::kIgnored},
};

}  // namespace

SignalKind KindOfSignal(int signal_number) {
  for (const SignalRule& rule : kSignalTable) {
    if (rule.number == signal_number) return rule.kind;
  }
  return signal_number >= SIGRTMIN && signal_number <= SIGRTMAX ? SignalKind::kDeadly : SignalKind::kLeftAlone;
}

sigset_t WorkerSignalMask() {
  sigset_t mask;
  sigfillset(&mask);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (KindOfSignal(signal_number) == SignalKind::kFault) sigdelset(&mask, signal_number);
  }
  return mask;
}

void PrepareStandardDescriptors() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
    // open() takes the lowest free descriptor: this one.
    const int opened = open("/dev/null", O_RDONLY);
    if (opened >= 0 && opened != descriptor) close(opened);
  }
  if (FILE* nowhere = std::fopen("/dev/null", "we")) stdout = nowhere;
}

void SetProcessCommandLine(const char* line) { command_line = line; }

// The sound libraries print their complaints to standard error unless told
// not to; some offer no way to tell them. (libasound is told when it is
// loaded: alsa_library.cpp.)
void SilenceLibraries() {
  static const bool silenced = [] {
    // The program itself never uses the stream; swapping the pointer keeps
    // descriptor 2 open and untouched for anything that writes it directly.
    if (FILE* nowhere = std::fopen("/dev/null", "we")) stderr = nowhere;
    return true;
  }();
  (void)silenced;
}

const char* ProcessCommandLine() { return command_line; }

int32_t WriteOutputOnce(const char* bytes, uint32_t length, uint32_t* written) {
  ssize_t count = -1;
  // A stop for writing to the terminal from the background (its "tostop"
  // setting) interrupts the write; continued, it is tried again.
  do {
    count = write(STDOUT_FILENO, bytes, length);
  } while (count < 0 && errno == EINTR);
  *written = count > 0 ? static_cast<uint32_t>(count) : 0;
  return count >= 0 ? 1 : 0;
}

uint64_t ClockMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

std::optional<UserEntry> LookUpUser() {
  try {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
      return std::nullopt;
    }
    return UserEntry{found->pw_name != nullptr ? found->pw_name : "", found->pw_dir != nullptr ? found->pw_dir : ""};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}
