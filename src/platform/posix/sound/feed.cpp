// The feed loop above every driver, on the sound thread.
#include "platform/posix/sound/feed.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "platform/platform.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

namespace {

using namespace sound_bounds;

constexpr uint64_t kNoDeadline = UINT64_MAX;

uint64_t NowUs() { return ClockMilliseconds() * 1000; }

}  // namespace

int16_t SampleToInt16(float sample) {
  const float clipped = std::clamp(sample, -1.0f, 1.0f);
  return static_cast<int16_t>(std::lrintf(clipped * 32767.0f));
}

Buffering BufferingFor(const SoundFormat& format, bool short_allowed) {
  const bool short_sound = short_allowed && format.frames != 0 && format.rate != 0 &&
                           format.frames < kShortSoundUs * format.rate / 1000000;
  if (short_sound) return {kShortSoundUs, kShortPeriodUs, kStartUs};
  return {kBufferUs, kPeriodUs, kStartUs};
}

bool FeedLoop::Play(OutputDriver& output, const SoundFormat& format, const FrameSource& source, int stop) {
  rate_ = format.rate;
  const bool int16_out = output.TakesInt16();
  const bool read_int16 = int16_out && format.int16;
  frame_bytes_ = FrameBytes(format.channels, int16_out);
  // As much as fits in kReadBytes, whatever the rate and channels, straight
  // into what the output takes where the formats agree.
  const size_t read_frame_bytes = FrameBytes(format.channels, read_int16);
  const long frames_per_read = read_frame_bytes == 0 ? 0 : static_cast<long>(kReadBytes / read_frame_bytes);
  const size_t samples = static_cast<size_t>(frames_per_read) * format.channels;
  bool played = rate_ != 0 && frames_per_read > 0 && (read_int16 ? bool(source.int16s) : bool(source.floats));
  try {
    if (played && !read_int16) floats_.Reserve(samples);
    if (played && int16_out) int16s_.Reserve(samples);
  } catch (const std::exception&) {
    played = false;
  }
  played_by_us_ = NowUs();
  while (played) {
    const long frames = read_int16 ? source.int16s(int16s_.data.get(), frames_per_read)
                                   : source.floats(floats_.data.get(), frames_per_read);
    if (frames <= 0) break;
    if (int16_out && !read_int16) {
      const float* floats = floats_.data.get();
      std::transform(floats, floats + frames * static_cast<long>(format.channels), int16s_.data.get(),
                     SampleToInt16);
    }
    const char* data = int16_out ? reinterpret_cast<const char*>(int16s_.data.get())
                                 : reinterpret_cast<const char*>(floats_.data.get());
    played = Write(output, data, frames, stop);
  }
  if (played) {
    output.Start();
    played = WaitForTail(output, stop);
  }
  // Cut short: what is queued goes at once. This is the call a frozen
  // server can hold, which is why it is made here and not by the caller.
  if (!played) output.Drop();
  return played;
}

bool FeedLoop::Write(OutputDriver& output, const char* data, long frames, int stop) {
  // Only whole frames taken count: an output that takes a byte at a time
  // stalls as one that takes nothing. Time spent suspended is no stall.
  uint64_t stall_deadline = DeadlineAfter(kStallMs);
  while (frames > 0) {
    const bool suspended = output.Suspended();
    const Written written = output.Write(data, frames, suspended ? kNoDeadline : stall_deadline, stop);
    if (written.outcome != Outcome::kDone) return false;
    if (written.frames > 0 || suspended || output.Suspended()) {
      stall_deadline = DeadlineAfter(kStallMs);
    } else if (ClockMilliseconds() >= stall_deadline) {
      return false;
    }
    played_by_us_ = std::max(played_by_us_, NowUs()) + static_cast<uint64_t>(written.frames) * 1000000 / rate_;
    data += static_cast<size_t>(written.frames) * frame_bytes_;
    frames -= written.frames;
  }
  return true;
}

bool FeedLoop::WaitForTail(OutputDriver& output, int stop) {
  // Bounded, should the output stop playing without saying so.
  uint64_t deadline = DeadlineAfter(kStallMs);
  // Once the output cannot tell what it holds, the clock tells for the rest
  // of the sound: what was written plays at the sound's rate.
  bool by_clock = false;
  for (;;) {
    if (output.Suspended()) {
      // A suspended output plays nothing: its tail waits for the resume.
      if (output.Write(nullptr, 0, kNoDeadline, stop).outcome != Outcome::kDone) return false;
      deadline = DeadlineAfter(kStallMs);
      continue;
    }
    // The bound has run out: the tail counts as played, and no query goes out
    // with no time left to answer it.
    if (ClockMilliseconds() >= deadline) return true;
    uint64_t left_us = 0;
    if (!by_clock) {
      const Queued queued = output.QueuedTime(deadline, stop);
      if (queued.outcome != Outcome::kDone) return false;
      by_clock = !queued.known;
      left_us = queued.us;
    }
    if (by_clock) left_us = played_by_us_ - std::min(played_by_us_, NowUs());
    if (left_us <= kTailUs) return true;
    const uint64_t wake = ClockMilliseconds() + std::max((left_us - kTailUs) / 1000, kShortestTailWaitMs);
    if (output.Write(nullptr, 0, std::min(deadline, wake), stop).outcome != Outcome::kDone) return false;
  }
}
