// The contract every driver of the sound output fulfils (alsa/ for ALSA,
// server/ for a server that speaks the PulseAudio protocol): what a sound
// hands the output, the primitives a driver gives the one feed loop
// (feed.h), and the volume, a contract of its own. Drivers include this
// header and never the output that picks them (output.h). Every call runs
// on the sound thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A sound to play. Each function fills `out` with up to `frames` interleaved
// frames and returns how many it gave, 0 or less at the end of the sound;
// both are called on the sound thread. What they read (an open file) belongs
// to the sound thread from Start until Finish returns true.
struct FrameSource {
  // Float samples in -1..1.
  std::function<long(float* out, long frames)> floats;
  // 16-bit samples; called only for a sound of no more than 16 bits
  // (SoundFormat::int16) on an output that takes them, where they go out as
  // they are, in half the bytes of floats.
  std::function<long(int16_t* out, long frames)> int16s;
};

// What a driver is told of a sound before it plays.
struct SoundFormat {
  unsigned rate = 0;
  unsigned channels = 0;
  // No more than 16 bits a sample: 16-bit samples lose nothing.
  bool int16 = false;
  // The speaker of each channel as the file names it, else as its format
  // orders them, in libsndfile's SF_CHANNEL_MAP_* values; empty when
  // neither does.
  std::vector<int> channel_map;
  // The sound's length in frames; 0 when not known.
  uint64_t frames = 0;
};

// The bytes of one frame of `channels` samples, 16-bit or float.
inline size_t FrameBytes(unsigned channels, bool int16) { return size_t{channels} * (int16 ? 2 : 4); }

// How much sound an output holds and how it asks for more, in microseconds
// of sound (bounds.h gives the figures; BufferingFor picks them). The one
// description of it every driver takes.
struct Buffering {
  uint64_t buffer_us = 0;  // the most it holds
  uint64_t period_us = 0;  // how much it asks for at a time
  uint64_t start_us = 0;   // how much it waits for before it starts to play

  bool operator==(const Buffering&) const = default;
};

// The buffering a sound of `format` asks for: for a sound known to be short
// on an output that allows it, one that holds it whole and asks for little
// at a time; else the long one.
Buffering BufferingFor(const SoundFormat& format, bool short_allowed);

// How a driver's wait ended.
enum class Outcome {
  kDone,     // it did what was asked, or the wait ended by its deadline or a change of state
  kStopped,  // the stop descriptor polled readable
  kFailed,   // the output failed: the sound cannot go on
};

// What a write took.
struct Written {
  Outcome outcome = Outcome::kDone;
  long frames = 0;  // frames taken, 0 or more
};

// What is still queued in an output.
struct Queued {
  Outcome outcome = Outcome::kDone;
  bool known = false;  // false when the output cannot tell: then the clock tells
  uint64_t us = 0;     // how long what is queued takes to play
};

// The primitives of an output. The feed loop (feed.h) is built on them and
// owns the waking, the tail, the stall rule and the wait through a suspend;
// a driver only says what its output does. Every call runs on the sound
// thread and returns by the deadline it is given; none throws across the
// sound thread's jobs.
class OutputDriver {
 public:
  virtual ~OutputDriver() = default;
  // Opens the output for a sound called `name` of the given format and
  // buffering, by `deadline`. An output already open with these settings is
  // kept, still playing; otherwise it plays out and a new one is opened,
  // taking 16-bit samples when `format.int16` is set and the output allows,
  // else floats. Blocks until done or `deadline`. 0 or a media error code.
  virtual uint32_t Open(const SoundFormat& format, const Buffering& buffering, const std::string& name,
                        uint64_t deadline) = 0;
  // Whether a short sound's buffering is safe on this output: it keeps up
  // with a server's short cycles. Does not block. Optional: yes by default.
  virtual bool TakesShortBuffer() const { return true; }
  // Whether the open output takes 16-bit samples (else floats): the one
  // choice of sample, made when it opened. Does not block.
  virtual bool TakesInt16() const = 0;
  // Queues up to `frames` frames of `data`, as many as the output has room
  // for, waiting while it has room for none until `deadline`, `stop` polls
  // readable or its state changes (suspended, resumed). Blocks that long at
  // most. With `frames` 0 it only waits, for the same things.
  virtual Written Write(const void* data, long frames, uint64_t deadline, int stop) = 0;
  // Plays what is queued even when it is less than the output waits for
  // before it starts: no more is coming. Does not block. Optional.
  virtual void Start() {}
  // How long what is queued still takes to play, asked by `deadline`.
  // Blocks that long at most.
  virtual Queued QueuedTime(uint64_t deadline, int stop) = 0;
  // Whether the output is suspended: it plays nothing, and nothing is a
  // stall, until it resumes. Does not block.
  virtual bool Suspended() const = 0;
  // Drops what is queued and closes the output: the fastest silence. Blocks
  // for a moment at most (a frozen server can hold a device's drop).
  virtual void Drop() = 0;
  // Lets what is queued play out and closes the output, by `deadline`.
  // Blocks that long at most.
  virtual void Drain(uint64_t deadline) = 0;
};

// The volume of the device an output plays on, apart from the output
// itself: it is set before any sound plays, and when none can.
class VolumeControl {
 public:
  virtual ~VolumeControl() = default;
  // Sets the volume: the low 16 bits are the left channel, the high 16 bits
  // the right one. Failures are silent. Blocks until done or `deadline`.
  virtual void SetVolume(uint32_t volume_word, uint64_t deadline) = 0;
};
