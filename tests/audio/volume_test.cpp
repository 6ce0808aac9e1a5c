// The channel value behind /Vn.
#include <gtest/gtest.h>

#include "audio/volume.h"
#include "fake_platform.h"

namespace {

TEST(VolumeTest, ChannelValuesFollowTheSinglePrecisionFactor) {
  struct Case {
    int32_t level;
    uint16_t channel;
  };
  const Case cases[] = {
      {0, 0},         {1, 655},       {10, 6553},  {30, 19660},   {50, 32767}, {70, 45874},
      {90, 58981},    {100, 65535},   {150, 32766}, {200, 65534},
      {3276801, 33375},  // 2147451487: the largest kind still in 32 bits
      {3277000, 0},      // 2147581902 overflows: 0x80000000, low 16 bits 0
      {2147483647, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ChannelValueForLevel(c.level), c.channel) << c.level;
}

TEST(VolumeTest, BothChannelsCarryTheSameValue) {
  ResetFake();
  SetOutputVolume(50);
  SetOutputVolume(90);
  EXPECT_EQ(Fake().volume_words, (std::vector<uint32_t>{0x7FFF7FFFu, 0xE665E665u}));
}

}  // namespace
