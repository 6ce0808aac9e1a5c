// The card mixer's scale: a channel's 0..65535 mapped onto a control's range.
#include "platform/posix/sound/alsa/mixer.h"

#include <gtest/gtest.h>

namespace {

struct ScaleCase {
  const char* why;
  uint16_t value;
  long low;
  long high;
  long expected;
};

TEST(VolumeScaleTest, MapsChannelValuesOntoTheMixerRange) {
  const ScaleCase cases[] = {
      {"a sound server's scale takes the value as it is", 32767, 0, 65536, 32767},
      {"even full, which stays one short of the server's 100%", 65535, 0, 65536, 65535},
      {"and a wrapped 150%", 32766, 0, 65536, 32766},
      {"a card's 0..255 at half", 32767, 0, 255, 127},
      {"a card's 0..255 at full", 65535, 0, 255, 255},
      {"silence is the bottom of the range", 0, 0, 255, 0},
      {"a range not starting at 0", 65535, 10, 110, 110},
      {"its bottom", 0, 10, 110, 10},
      {"a negative range", 32768, -100, 0, -50},
      {"0..65535 is scaled one to one", 12345, 0, 65535, 12345},
      {"an empty range gives its one value", 50000, 7, 7, 7},
  };
  for (const ScaleCase& row : cases) {
    EXPECT_EQ(ScaleChannelValue(row.value, row.low, row.high), row.expected) << row.why;
  }
}

}  // namespace
