// The output device's name, and the volume of its mixer. Runs on the sound
// thread: the mixer talks to the sound server, which may not answer.
#pragma once

#include <cstdint>

struct AlsaFunctions;

// The ALSA device sounds play on: the AUDIODEV variable when it is set and
// not empty (any PCM name: "hw:1", "plughw:1,0", "pulse", a name from the
// user's configuration), else "default".
const char* OutputDeviceName();
// Whether AUDIODEV names a device: then ALSA plays, whatever server runs.
bool DeviceNamedByUser();

// Sets the wave output volume of the output device's mixer through `alsa`
// (where it has none, or `alsa` is nullptr, nothing happens): its "PCM"
// control, else "Master". The low 16 bits are the left channel, the high
// 16 bits the right one. Failures are silent.
void ApplyVolume(const AlsaFunctions* alsa, uint32_t volume_word);

// The level within `low`..`high` for `value` (0 silent, 65535 full), rounded
// to nearest. A range of 0..65536 is a sound server's own scale, whose
// 65536 is full volume: there the value is taken as it is.
long ScaleChannelValue(uint16_t value, long low, long high);
