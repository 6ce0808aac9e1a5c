#include "platform/posix/sound/decode/sndfile_library.h"

const SndfileFunctions* LoadSndfile(SymbolLookup lookup, SndfileFunctions* functions) {
  return LoadWholeLibrary("libsndfile.so.1", lookup, functions);
}

const SndfileFunctions* SndfileLibrary() {
  static SndfileFunctions functions;
  static const SndfileFunctions* const loaded = LoadSndfile(dlsym, &functions);
  return loaded;
}
