#include "platform/posix/sound/pulse_library.h"

#include <dlfcn.h>

const PulseLibrary* LoadPulseLibrary() {
  static const PulseLibrary* const library = []() -> const PulseLibrary* {
    void* handle = dlopen("libpulse.so.0", RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return nullptr;
    static PulseLibrary functions;
    bool complete = true;
#define PELDO_PULSE_LOOK_UP(name)                                             \
  functions.name = reinterpret_cast<decltype(&::name)>(dlsym(handle, #name)); \
  complete = complete && functions.name != nullptr;
    PELDO_PULSE_FUNCTIONS(PELDO_PULSE_LOOK_UP)
#undef PELDO_PULSE_LOOK_UP
    return complete ? &functions : nullptr;
  }();
  return library;
}
