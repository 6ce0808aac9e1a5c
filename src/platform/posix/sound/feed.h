// The one feed loop of every output: it reads a sound from its source and
// hands it to a driver's primitives (driver.h), and owns what every output
// shares: when to wake, the stall rule, the wait through a suspend and the
// wait for the tail. The bounds are in bounds.h. On the sound thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/posix/sound/driver.h"

// A float sample as the 16-bit one an output that takes those plays:
// samples past full scale are clipped to it, where wrapped they would click.
int16_t SampleToInt16(float sample);

class FeedLoop {
 public:
  // Plays `source`, of `format`, on the open `output`, until all but the
  // last moment of it has played (true), or `stop` polls readable, the
  // output fails or takes nothing for too long (false: what is queued has
  // been dropped and the output closed). Reads at most kReadBytes at a time
  // into each buffer. Blocks until then.
  bool Play(OutputDriver& output, const SoundFormat& format, const FrameSource& source, int stop);

 private:
  // Hands `frames` frames of `data` over, waiting as the output asks.
  bool Write(OutputDriver& output, const char* data, long frames, int stop);
  // Waits until no more than the tail is left to play.
  bool WaitForTail(OutputDriver& output, int stop);

  unsigned rate_ = 0;
  size_t frame_bytes_ = 0;
  // When what has been written will have played, on the monotonic clock in
  // microseconds: the tail's measure when the output cannot tell.
  uint64_t played_by_us_ = 0;
  // Samples read, left as they are until written: clearing a read's worth
  // first would cost a ding more than its samples do.
  template <typename Sample>
  struct Samples {
    std::unique_ptr<Sample[]> data;
    size_t size = 0;
    void Reserve(size_t samples) {
      if (size < samples) data = std::make_unique_for_overwrite<Sample[]>(size = samples);
    }
  };
  Samples<float> floats_;    // read as floats
  Samples<int16_t> int16s_;  // written as 16-bit samples
};
