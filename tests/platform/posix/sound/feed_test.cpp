// The feed loop's choice of buffer: a short one for a sound known to be
// shorter than 2 s on an output that allows it, the long one otherwise; and
// float samples made 16-bit.
#include <gtest/gtest.h>

#include "platform/posix/sound/feed.h"

namespace {

TEST(FeedTest, OnlyASoundKnownToBeShortGetsTheShortBuffer) {
  const struct {
    const char* why;
    uint64_t frames;
    bool allowed;
    uint64_t buffer_us;
  } cases[] = {
      {"0.3 s", 13230, true, 60000},       {"just under 2 s", 87999, true, 60000},
      {"2 s", 88000, true, 1000000},       {"a length not known", 0, true, 1000000},
      {"an output that allows no short buffer", 13230, false, 1000000},
  };
  for (const auto& row : cases) {
    const Buffering buffering = BufferingFor(SoundFormat{44000, 2, true, {}, row.frames}, row.allowed);
    EXPECT_EQ(buffering.buffer_us, row.buffer_us) << row.why;
    EXPECT_EQ(buffering.period_us, row.buffer_us == 60000 ? 20000u : 250000u) << row.why;
  }
}

TEST(FeedTest, FloatSamplesPastFullScaleClipInsteadOfWrapping) {
  const struct {
    float sample;
    int16_t expected;
  } cases[] = {{1.5f, 32767}, {-1.5f, -32767}, {3e9f, 32767}, {1.0f, 32767}, {0.25f, 8192}, {-0.25f, -8192}};
  for (const auto& row : cases) EXPECT_EQ(SampleToInt16(row.sample), row.expected) << row.sample;
}

}  // namespace
