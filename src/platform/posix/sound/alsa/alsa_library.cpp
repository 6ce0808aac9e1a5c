#include "platform/posix/sound/alsa/alsa_library.h"

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

const AlsaFunctions* LoadAlsa(SymbolLookup lookup, AlsaFunctions* functions) {
  const AlsaFunctions* loaded = LoadWholeLibrary("libasound.so.2", lookup, functions);
  if (loaded != nullptr) loaded->snd_lib_error_set_handler(IgnoreAlsaError);
  return loaded;
}

const AlsaFunctions* AlsaLibrary() {
  static AlsaFunctions functions;
  static const AlsaFunctions* const loaded = LoadAlsa(dlsym, &functions);
  return loaded;
}
