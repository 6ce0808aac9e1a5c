// The feed loop against an output in memory: the buffering it picks, how
// much it reads at a time, its stall, suspend and tail rules, and float
// samples made 16-bit.
#include "platform/posix/sound/feed.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
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

struct FeedCase {
  const char* why;
  SoundFormat format;
  bool takes;  // else a write takes nothing
  int suspended_ms;
  Queued queued;
  bool played;
  uint64_t at_least_ms, at_most_ms;  // how long the feed takes
};

// Takes and tells what its row says, and counts what the feed loop did.
struct FakeOutput final : OutputDriver {
  explicit FakeOutput(const FeedCase& row)
      : row(row), suspended_until(row.suspended_ms == 0 ? 0 : DeadlineAfter(row.suspended_ms)) {}
  const FeedCase& row;
  const uint64_t suspended_until;  // on the monotonic clock, in ms
  uint64_t taken = 0;
  bool dropped = false, late_query = false;  // a query asked with its deadline past

  uint32_t Open(const SoundFormat&, const Buffering&, const std::string&, uint64_t) override { return 0; }
  bool TakesInt16() const override { return row.format.int16; }
  Written Write(const void*, long frames, uint64_t deadline, int) override {
    if (Suspended() || frames == 0 || !row.takes) {
      PollUntil(nullptr, 0, Suspended() ? std::min(deadline, suspended_until) : deadline);
      return {Outcome::kDone, 0};
    }
    taken += frames;
    return {Outcome::kDone, frames};
  }
  Queued QueuedTime(uint64_t deadline, int) override {
    late_query |= platform::MonotonicMilliseconds() >= deadline;
    return row.queued;
  }
  bool Suspended() const override { return platform::MonotonicMilliseconds() < suspended_until; }
  void Drop() override { dropped = true; }
  void Drain(uint64_t) override {}
};

// Plays the row's sound (whatever its samples hold) on an output of its own.
void Feed(const FeedCase& row) {
  FakeOutput output(row);
  auto left = static_cast<long>(row.format.frames);
  size_t largest_read = 0;  // bytes
  const auto read = [&](long frames, size_t sample_bytes) {
    largest_read = std::max(largest_read, static_cast<size_t>(frames) * row.format.channels * sample_bytes);
    left -= frames = std::min(left, frames);
    return frames;
  };
  FrameSource source;
  source.int16s = [&](int16_t*, long frames) { return read(frames, sizeof(int16_t)); };
  source.floats = [&](float*, long frames) { return read(frames, sizeof(float)); };
  const uint64_t start = platform::MonotonicMilliseconds();
  EXPECT_EQ(FeedLoop().Play(output, row.format, source, -1), row.played) << row.why;
  const uint64_t took_ms = platform::MonotonicMilliseconds() - start;
  EXPECT_GE(took_ms, row.at_least_ms) << row.why;
  EXPECT_LE(took_ms, row.at_most_ms) << row.why;
  EXPECT_EQ(output.dropped, !row.played) << row.why;
  EXPECT_FALSE(output.late_query) << row.why;
  EXPECT_EQ(output.taken, row.played ? row.format.frames : 0) << row.why;
  EXPECT_LE(largest_read, sound_bounds::kReadBytes) << row.why;
}

TEST(FeedTest, ReadsBoundedBytesAndWaitsAsTheOutputSays) {
  const Queued empty = {Outcome::kDone, true, 0};
  const SoundFormat ding{44100, 2, true, {}, 13230};
  const FeedCase cases[] = {
      {"a ding plays through at once", ding, true, 0, empty, true, 0, 300},
      {"a header of 1 GHz and 8 channels, as floats", {1000000000, 8, false, {}, 100000}, true, 0, empty, true, 0, 300},
      {"an output that takes nothing has hung", ding, false, 0, empty, false, 2400, 3400},
      {"a suspended output is waited through, longer than a stall", ding, true, 3000, empty, true, 2900, 4000},
      {"an output that cannot tell leaves the tail to the clock: 0.5 s less the last 0.1 s", {44100, 2, true, {}, 22050},
       true, 0, {Outcome::kDone, false, 0}, true, 350, 1000},
      {"an absurd queue ends the tail by its bound, without a late query", ding, true, 0,
       {Outcome::kDone, true, 3600000000}, true, 2400, 3400},
  };
  // The rows wait side by side.
  std::vector<std::future<void>> runs;
  for (const FeedCase& row : cases) runs.push_back(std::async(std::launch::async, Feed, std::cref(row)));
  for (auto& run : runs) run.get();
}

TEST(FeedTest, FloatSamplesPastFullScaleClipInsteadOfWrapping) {
  const struct {
    float sample;
    int16_t expected;
  } cases[] = {{1.5f, 32767}, {-1.5f, -32767}, {3e9f, 32767}, {1.0f, 32767}, {0.25f, 8192}, {-0.25f, -8192}};
  for (const auto& row : cases) EXPECT_EQ(SampleToInt16(row.sample), row.expected) << row.sample;
}

}  // namespace
