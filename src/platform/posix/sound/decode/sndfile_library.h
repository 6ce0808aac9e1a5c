// libsndfile, loaded the first time a file needs it (loaded_library.h): the
// built-in WAV reader (wav_reader.h) takes plain WAV files without it, and a
// program that plays only those never binds its symbols nor those of its
// codec libraries. The decoder calls the library through the struct below,
// which it is handed only when every function was found; without it, a file
// that needs it has no decoder (kMediaNoDecoder).
#pragma once

#include <sndfile.h>

#include "platform/posix/sound/loaded_library.h"

// Every function of libsndfile the program calls.
#define SNDFILE_FUNCTIONS(X) \
  X(sf_open_fd) X(sf_error) X(sf_error_number) X(sf_command) X(sf_seek) X(sf_readf_short) X(sf_readf_float) X(sf_close)

struct SndfileFunctions {
  SNDFILE_FUNCTIONS(PELDO_FUNCTION_MEMBER)

  bool Bind(void* library, SymbolLookup lookup) {
    bool found = true;
    SNDFILE_FUNCTIONS(PELDO_BIND_FUNCTION)
    return found;
  }
};

// Loads libsndfile through `lookup` into `functions`: `functions`, or
// nullptr when the library or any of its functions is missing.
const SndfileFunctions* LoadSndfile(SymbolLookup lookup, SndfileFunctions* functions);

// The process's libsndfile, loaded once by whichever thread comes first and
// never unloaded; nullptr when it is absent.
const SndfileFunctions* SndfileLibrary();
