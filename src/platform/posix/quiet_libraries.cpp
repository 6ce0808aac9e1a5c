// The sound libraries print their complaints to standard error unless told
// not to; some offer no way to tell them.
#include "platform/posix/quiet_libraries.h"

#include <alsa/asoundlib.h>

#include <cstdio>

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceLibraries() {
  static const bool silenced = [] {
    snd_lib_error_set_handler(IgnoreAlsaError);
    // The program itself never uses the stream; swapping the pointer keeps
    // descriptor 2 open and untouched for anything that writes it directly.
    if (FILE* nowhere = std::fopen("/dev/null", "we")) stderr = nowhere;
    return true;
  }();
  (void)silenced;
}
