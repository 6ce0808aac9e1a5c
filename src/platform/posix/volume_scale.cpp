// Mapping channel values onto mixer ranges.
#include "platform/posix/volume_scale.h"

long ScaleChannelValue(uint16_t value, long low, long high) {
  if (low == 0 && high == 65536) return value;
  if (high <= low) return low;
  const long long span = static_cast<long long>(high) - low;
  return low + static_cast<long>((value * span + 32767) / 65535);
}
