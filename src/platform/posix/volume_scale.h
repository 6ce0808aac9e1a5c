// Mapping a 16-bit channel value onto a mixer control's range.
#pragma once

#include <cstdint>

// The level within `low`..`high` for `value` (0 silent, 65535 full), rounded
// to nearest. A range of 0..65536 is a sound server's own scale, whose
// 65536 is full volume: there the value is taken as it is.
long ScaleChannelValue(uint16_t value, long low, long high);
