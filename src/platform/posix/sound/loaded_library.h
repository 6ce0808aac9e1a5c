// A library loaded when first used, whole or not at all: every function the
// program binds is looked up when the library is opened, and one that lacks
// any of them (another build found first on the library path) counts as
// absent, as one not installed does; no call ever lands on a missing
// function. Each library lists its functions once, in an X-macro
// (alsa/alsa_library.h, decode/sndfile_library.h), which makes a struct of
// them with Bind().
#pragma once

#include <dlfcn.h>

// How a function is found in an opened library: dlsym, or a test's own.
using SymbolLookup = void* (*)(void* library, const char* name);

// For the X-macro of a library's functions: a member of each function's
// own type, and the statement of Bind() that looks it up.
#define PELDO_FUNCTION_MEMBER(name) decltype(&::name) name = nullptr;
#define PELDO_BIND_FUNCTION(name)                                   \
  name = reinterpret_cast<decltype(&::name)>(lookup(library, #name)); \
  found = found && name != nullptr;

// Opens `file` and binds every function of `functions` through `lookup`.
// `functions` when each was found; else nullptr, with the library closed
// again. Not thread-safe: each library's loader calls it once.
template <typename Functions>
const Functions* LoadWholeLibrary(const char* file, SymbolLookup lookup, Functions* functions) {
  void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return nullptr;
  if (functions->Bind(library, lookup)) return functions;
  dlclose(library);
  return nullptr;
}
