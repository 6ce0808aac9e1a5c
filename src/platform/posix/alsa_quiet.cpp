// ALSA's library prints its complaints to standard error unless told not to.
#include "platform/posix/alsa_quiet.h"

#include <alsa/asoundlib.h>

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void SilenceAlsa() {
  static const bool silenced = [] {
    snd_lib_error_set_handler(IgnoreAlsaError);
    return true;
  }();
  (void)silenced;
}
