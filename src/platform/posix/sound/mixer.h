// The volume of ALSA's "default" mixer. Runs on the sound thread: the mixer
// talks to the sound server, which may not answer.
#pragma once

#include <cstdint>

// Sets the wave output volume: the low 16 bits are the left channel, the
// high 16 bits the right one. Failures are silent.
void ApplyVolume(uint32_t volume_word);

// The level within `low`..`high` for `value` (0 silent, 65535 full), rounded
// to nearest. A range of 0..65536 is a sound server's own scale, whose
// 65536 is full volume: there the value is taken as it is.
long ScaleChannelValue(uint16_t value, long low, long high);
