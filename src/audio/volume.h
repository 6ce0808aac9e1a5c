// The wave output volume set by /Vn.
#pragma once

#include <cstdint>

// The 16-bit channel value for a percentage: level times the single-precision
// 0.01 times 65535, rounded ties to even, low 16 bits kept (no clamping).
uint16_t ChannelValueForLevel(int32_t level);
// Sets both channels of the first wave output device to that value.
// Failures are silent.
void SetOutputVolume(int32_t level);
