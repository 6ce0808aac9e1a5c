// The contract every driver of the sound output fulfils (alsa/ for ALSA,
// server/ for a server that speaks the PulseAudio protocol): what a sound
// hands the driver, and what the driver does with it. Drivers include this
// header and never the output that picks them (output.h). Every call runs
// on the sound thread.
#pragma once

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
  // 16-bit samples; only for sounds that have no more than 16 bits, which go
  // out as they are, in half the bytes of floats.
  std::function<long(int16_t* out, long frames)> int16s;
};

// What a driver is told of a sound before it plays.
struct SoundFormat {
  unsigned rate = 0;
  unsigned channels = 0;
  // 16-bit samples are on offer (FrameSource::int16s).
  bool int16 = false;
  // The speaker of each channel as the file names it, in libsndfile's
  // SF_CHANNEL_MAP_* values; empty when the file names none.
  std::vector<int> channel_map;
  // The sound's length in frames; 0 when not known.
  uint64_t frames = 0;
};

// What a driver does, every call on the sound thread.
class OutputDriver {
 public:
  virtual ~OutputDriver() = default;
  // Makes the output ready for a sound called `name` of the given format:
  // the open stream is kept, still playing, when it already has these
  // settings; otherwise it plays out and a new one is opened, taking 16-bit
  // samples when `format.int16` is set and the output allows, else floats.
  // 0 or a media error code.
  virtual uint32_t Prepare(const SoundFormat& format, const std::string& name) = 0;
  // Plays `source` on the prepared output until all but the last moment of
  // it has played (true), or `stop` polls readable or the output fails
  // (false: what is queued has been dropped and the output closed).
  virtual bool Feed(const FrameSource& source, int stop) = 0;
  // Drops what is queued and closes the output.
  virtual void Close() = 0;
  // Lets what is queued play out and closes the output.
  virtual void Drain() = 0;
  // Sets the output's volume: the low 16 bits are the left channel, the
  // high 16 bits the right one. Failures are silent.
  virtual void SetVolume(uint32_t volume_word) = 0;
};
