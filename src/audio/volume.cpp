#include "audio/volume.h"

#include <cmath>

#include "platform/platform.h"

uint16_t ChannelValueForLevel(int32_t level) {
  // The single-precision number nearest 0.01, a little below it: some
  // levels come out one step under the exact percentage (50 gives 32767).
  constexpr float kPercent = 0.01f;
  const double scaled = static_cast<double>(kPercent) * static_cast<double>(level) * 65535.0;
  const double rounded = std::nearbyint(scaled);  // ties to even
  uint32_t bits = 0x80000000u;  // what a 32-bit conversion gives out of range
  if (rounded >= -2147483648.0 && rounded <= 2147483647.0) {
    bits = static_cast<uint32_t>(static_cast<int32_t>(rounded));
  }
  // The low 16 bits, not clamped: levels above 100 wrap round.
  return static_cast<uint16_t>(bits & 0xFFFFu);
}

void SetOutputVolume(int32_t level) {
  const uint32_t channel = ChannelValueForLevel(level);
  platform::SetWaveOutVolume((channel << 16) | channel);
}
