// The wave output volume on Windows.
#include <windows.h>
#include <mmsystem.h>

#include "platform/platform.h"

namespace platform {

// Device identifier 0, not an open handle: the first wave output device.
// A failure (no device, or one without volume control) changes nothing.
void SetWaveOutVolume(uint32_t volume_word) { waveOutSetVolume(nullptr, volume_word); }

}  // namespace platform
