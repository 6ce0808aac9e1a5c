// Placeholder output volume: nothing to set yet.
#include "platform/platform.h"

namespace platform {
void SetWaveOutVolume(uint32_t) {}
}  // namespace platform
