// Preloaded into the program by tests and bench/held-states: reads of files
// whose names end in ".wav" hang, fail or print, as PELDO_READ_SHIM says:
// "hang", "eio" (every read fails), "eio-once" (the first read fails) or
// "printf" (a library's complaint on standard output), or "crash" (a fault);
// "hang-dirs": opening any directory hangs, "slow-dirs": it takes 250 ms;
// "no-libraries": libasound and libsndfile cannot be loaded; "hide:NAME":
// dlsym finds no function NAME, as in a build of its library that lacks
// it. PELDO_STOP_AT_SET=N: the N-th
// change of the terminal's mode stops the process (SIGSTOP) first.
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool IsSoundFile(int fd) {
  char link[64];
  char path[512];
  std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = readlink(link, path, sizeof path - 1);
  if (length < 4) return false;
  path[length] = '\0';
  return std::strcmp(path + length - 4, ".wav") == 0;
}

std::atomic<bool> failed_once{false};

// What PELDO_READ_SHIM does to a read of `fd`: false when it fails.
bool ShimRead(int fd) {
  const char* mode = std::getenv("PELDO_READ_SHIM");
  if (mode != nullptr && IsSoundFile(fd)) {
    if (std::strcmp(mode, "hang") == 0) {
      for (;;) pause();
    }
    if (std::strcmp(mode, "eio") == 0 || (std::strcmp(mode, "eio-once") == 0 && !failed_once.exchange(true))) {
      errno = EIO;
      return false;
    }
    if (std::strcmp(mode, "crash") == 0) *static_cast<volatile int*>(nullptr) = 0;
    if (std::strcmp(mode, "printf") == 0) {
      std::printf("Ooops! a library's complaint\n");
      std::fflush(stdout);
    }
  }
  return true;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size) {
  using Read = ssize_t (*)(int, void*, size_t);
  static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
  return ShimRead(fd) ? real(fd, buffer, size) : -1;
}

// The built-in WAV reader reads with pread (pread64 with 64-bit offsets).
extern "C" ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset) {
  using Read = ssize_t (*)(int, void*, size_t, off64_t);
  static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "pread64"));
  return ShimRead(fd) ? real(fd, buffer, size, offset) : -1;
}

extern "C" void* dlopen(const char* name, int flags) {
  static const auto real = reinterpret_cast<void* (*)(const char*, int)>(dlsym(RTLD_NEXT, "dlopen"));
  const char* mode = std::getenv("PELDO_READ_SHIM");
  const bool hidden = name != nullptr && (std::strstr(name, "libasound") || std::strstr(name, "libsndfile"));
  if (hidden && mode != nullptr && std::strcmp(mode, "no-libraries") == 0) return nullptr;
  return real(name, flags);
}

// The shim's own lookups (RTLD_NEXT) come through here too, and still find
// what follows the shim.
extern "C" void* dlsym(void* library, const char* name) {
  using Lookup = void* (*)(void*, const char*);
  static const Lookup real = [] {
    void* found = dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34");
    return reinterpret_cast<Lookup>(found != nullptr ? found : dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5"));
  }();
  const char* mode = std::getenv("PELDO_READ_SHIM");
  if (mode != nullptr && std::strncmp(mode, "hide:", 5) == 0 && std::strcmp(mode + 5, name) == 0) {
    return nullptr;
  }
  return real(library, name);
}

extern "C" DIR* opendir(const char* name) {
  static const auto real = reinterpret_cast<DIR* (*)(const char*)>(dlsym(RTLD_NEXT, "opendir"));
  const char* mode = std::getenv("PELDO_READ_SHIM");
  while (mode != nullptr && std::strcmp(mode, "hang-dirs") == 0) pause();
  if (mode != nullptr && std::strcmp(mode, "slow-dirs") == 0) usleep(250000);
  return real(name);
}

extern "C" int tcsetattr(int fd, int when, const struct termios* mode) {
  static const auto real = reinterpret_cast<int (*)(int, int, const termios*)>(dlsym(RTLD_NEXT, "tcsetattr"));
  static std::atomic<int> calls{0};
  const char* stop_at = std::getenv("PELDO_STOP_AT_SET");
  if (stop_at != nullptr && ++calls == std::atoi(stop_at)) raise(SIGSTOP);
  return real(fd, when, mode);
}
