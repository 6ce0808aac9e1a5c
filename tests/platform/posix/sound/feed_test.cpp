// The feed loop against an output in memory: the buffering it picks, how
// much it reads at a time, its stall, suspend and tail rules, and float
// samples made 16-bit.
#include "platform/posix/sound/feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <future>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/waits.h"

namespace {

TEST(FeedTest, OnlyASoundKnownToBeShortIsQueuedWhole) {
  const struct {
    const char* why;
    uint64_t frames;
    bool allowed;
    uint64_t buffer_us;
  } cases[] = {
      {"0.3 s", 13230, true, 2000000},     {"just under 2 s", 87999, true, 2000000},
      {"2 s", 88000, true, 1000000},       {"a length not known", 0, true, 1000000},
      {"an output that allows no short buffering", 13230, false, 1000000},
  };
  for (const auto& row : cases) {
    const Buffering buffering = BufferingFor(SoundFormat{44000, 2, true, {}, row.frames}, row.allowed);
    EXPECT_EQ(buffering.buffer_us, row.buffer_us) << row.why;
    EXPECT_EQ(buffering.period_us, row.buffer_us == 2000000 ? 20000u : 250000u) << row.why;
  }
}

// Takes and tells what each row says, and counts what the feed loop did.
struct FakeOutput final : OutputDriver {
  long takes = LONG_MAX;         // frames a write takes at most; 0: nothing
  uint64_t suspended_until = 0;  // on the monotonic clock, in ms
  Queued queued = {Outcome::kDone, true, 0};
  bool int16 = true;
  long taken = 0;
  bool dropped = false, late_query = false;  // a query asked with its deadline past

  uint32_t Open(const SoundFormat&, const Buffering&, const std::string&, uint64_t) override { return 0; }
  bool TakesInt16() const override { return int16; }
  Written Write(const void*, long frames, uint64_t deadline, int) override {
    const bool waits = Suspended() || frames == 0 || takes == 0;
    if (waits) PollUntil(nullptr, 0, Suspended() ? std::min(deadline, suspended_until) : deadline);
    taken += waits ? 0 : std::min(frames, takes);
    return {Outcome::kDone, waits ? 0 : std::min(frames, takes)};
  }
  Queued QueuedTime(uint64_t deadline, int) override {
    late_query |= platform::MonotonicMilliseconds() >= deadline;
    return queued;
  }
  bool Suspended() const override { return platform::MonotonicMilliseconds() < suspended_until; }
  void Drop() override { dropped = true; }
  void Drain(uint64_t) override {}
};

struct FeedCase {
  const char* why;
  SoundFormat format;
  long takes;
  int suspended_ms;
  Queued queued;
  bool played;
  uint64_t at_least_ms, at_most_ms;  // how long the feed takes
  // What it did.
  FakeOutput output{};
  size_t largest_read = 0;  // bytes
  uint64_t took_ms = 0;
};

FeedCase Feed(FeedCase row) {
  row.output.takes = row.takes;
  row.output.suspended_until = row.suspended_ms == 0 ? 0 : DeadlineAfter(row.suspended_ms);
  row.output.queued = row.queued;
  row.output.int16 = row.format.int16;
  auto left = static_cast<long>(row.format.frames);
  const auto read = [&](long frames, size_t sample_bytes) {
    row.largest_read = std::max(row.largest_read, frames * row.format.channels * sample_bytes);
    left -= frames = std::min(left, frames);
    return frames;
  };
  FrameSource source;  // whatever the samples hold
  source.int16s = [&](int16_t*, long frames) { return read(frames, sizeof(int16_t)); };
  source.floats = [&](float*, long frames) { return read(frames, sizeof(float)); };
  const uint64_t start = platform::MonotonicMilliseconds();
  EXPECT_EQ(FeedLoop().Play(row.output, row.format, source, -1), row.played) << row.why;
  row.took_ms = platform::MonotonicMilliseconds() - start;
  return row;
}

TEST(FeedTest, ReadsBoundedBytesAndWaitsAsTheOutputSays) {
  const Queued empty = {Outcome::kDone, true, 0};
  const SoundFormat ding{44100, 2, true, {}, 13230};
  const FeedCase cases[] = {
      {"a ding plays through at once", ding, LONG_MAX, 0, empty, true, 0, 300},
      {"a header of 1 GHz and 8 channels, as floats", {1000000000, 8, false, {}, 100000}, LONG_MAX, 0, empty, true, 0, 300},
      {"an output that takes nothing has hung", ding, 0, 0, empty, false, 2400, 3400},
      {"a suspended output is waited through, longer than a stall", ding, LONG_MAX, 3000, empty, true, 2900, 4000},
      {"an output that cannot tell leaves the tail to the clock: 0.5 s less the last 0.1 s", {44100, 2, true, {}, 22050},
       LONG_MAX, 0, {Outcome::kDone, false, 0}, true, 350, 1000},
      {"an absurd queue ends the tail by its bound, without a late query", ding, LONG_MAX, 0,
       {Outcome::kDone, true, 3600000000}, true, 2400, 3400},
  };
  // The rows wait side by side, each on its own output.
  std::vector<std::future<FeedCase>> runs;
  for (const FeedCase& row : cases) runs.push_back(std::async(std::launch::async, Feed, row));
  for (auto& run : runs) {
    const FeedCase row = run.get();
    EXPECT_EQ(row.output.dropped, !row.played) << row.why;
    EXPECT_FALSE(row.output.late_query) << row.why;
    EXPECT_EQ(static_cast<uint64_t>(row.output.taken), row.played ? row.format.frames : 0) << row.why;
    EXPECT_LE(row.largest_read, sound_bounds::kReadBytes) << row.why;
    EXPECT_GE(row.took_ms, row.at_least_ms) << row.why;
    EXPECT_LE(row.took_ms, row.at_most_ms) << row.why;
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
