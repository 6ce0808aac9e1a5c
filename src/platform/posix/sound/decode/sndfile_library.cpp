// libsndfile, loaded the first time a file needs it: the built-in WAV reader
// (wav_reader.h) takes plain WAV files without it, and a program that plays
// only those never binds its symbols nor those of its codec libraries. Each
// function below has the name and signature of the library's own, so the
// decoder calls libsndfile as if it were linked; without the library, every
// file it would decode is one that cannot be played (kMediaNotSound).
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Loaded once, by whichever thread comes first, and never unloaded.
void* SndfileSymbol(const char* name) {
  static void* const library = dlopen("libsndfile.so.1", RTLD_NOW | RTLD_LOCAL);
  return library != nullptr ? dlsym(library, name) : nullptr;
}

}  // namespace

// Looks the symbol up once; a second thread waits for the first. Without
// it, the function gives `missing`.
#define FORWARD(missing, name, ...)                                                   \
  static const auto real = reinterpret_cast<decltype(&name)>(SndfileSymbol(#name)); \
  if (real == nullptr) return missing;                                                \
  return real(__VA_ARGS__)

extern "C" {

SNDFILE* sf_open_fd(int fd, int mode, SF_INFO* sfinfo, int close_desc) {
  static const auto real = reinterpret_cast<decltype(&sf_open_fd)>(SndfileSymbol("sf_open_fd"));
  if (real != nullptr) return real(fd, mode, sfinfo, close_desc);
  // The descriptor is the library's to close, as after any failed open.
  if (close_desc != 0) close(fd);
  errno = 0;
  return nullptr;
}
int sf_error(SNDFILE* sndfile) { FORWARD(SF_ERR_UNRECOGNISED_FORMAT, sf_error, sndfile); }
const char* sf_error_number(int errnum) { FORWARD(nullptr, sf_error_number, errnum); }
int sf_command(SNDFILE* sndfile, int command, void* data, int datasize) {
  FORWARD(SF_FALSE, sf_command, sndfile, command, data, datasize);
}
sf_count_t sf_seek(SNDFILE* sndfile, sf_count_t frames, int whence) {
  FORWARD(-1, sf_seek, sndfile, frames, whence);
}
sf_count_t sf_readf_short(SNDFILE* sndfile, short* ptr, sf_count_t frames) {
  FORWARD(0, sf_readf_short, sndfile, ptr, frames);
}
sf_count_t sf_readf_float(SNDFILE* sndfile, float* ptr, sf_count_t frames) {
  FORWARD(0, sf_readf_float, sndfile, ptr, frames);
}
int sf_close(SNDFILE* sndfile) { FORWARD(0, sf_close, sndfile); }

}  // extern "C"
