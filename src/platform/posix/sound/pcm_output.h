// Sound output through ALSA's "default" device, or the one AUDIODEV names
// (mixer.h).
//
// Every ALSA call runs on the sound thread, a Worker (worker.h) that this
// object owns and alone posts to; the public functions below are called on
// the main thread and never wait for the device longer than they say. The
// device outlives the sounds played on it: after a sound has been queued
// whole it stays open and running, so the next sound with the same rate and
// channels follows the last sample without a gap.
//
// pcm_output.cpp holds the main thread's side, pcm_device.cpp the device and
// its settings, pcm_feed.cpp the feeding and the wait for the tail.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/posix/sound/worker.h"
#include "platform/posix/waits.h"

typedef struct _snd_pcm snd_pcm_t;

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

class PcmOutput {
 public:
  PcmOutput() = default;
  PcmOutput(const PcmOutput&) = delete;
  PcmOutput& operator=(const PcmOutput&) = delete;
  // The sound thread's jobs refer to this object and the thread is never
  // joined (a frozen server may hold it for ever): once made, a PcmOutput
  // lives until the process ends.
  ~PcmOutput() = delete;

  // Makes the device ready for a sound of `rate` frames a second and
  // `channels` channels: the open device is kept, still playing, when it
  // already has these settings; otherwise it plays out and a new one is
  // opened, taking 16-bit samples when `int16` is set and the device allows,
  // else floats. Waits through `wait` at most `timeout_ms`. kReady with 0 or
  // a media error code in *error (kMediaNoOutput when the sound thread is
  // stuck or cannot be had); kEscPressed or kTimedOut when the wait gave up,
  // and then a device the request still opens is closed again.
  WaitEnd Prepare(unsigned rate, unsigned channels, bool int16, DescriptorWait wait, int timeout_ms,
                  uint32_t* error);

  // Starts feeding the prepared device from `source` and returns at once.
  // Returns 0 or a media error code. From here until Finish returns true the
  // source and what it reads belong to the sound thread.
  uint32_t Start(FrameSource source);

  // True from Start until all but the last moment of the sound has played,
  // or the device failed.
  bool Feeding() const { return feeding_.load(std::memory_order_acquire); }

  // A descriptor that polls readable once feeding has ended, until the next
  // Start; -1 before the first Start.
  int EndDescriptor() const { return started_ ? end_event_.Get() : -1; }

  // Ends feeding. When the sound played to its end the device keeps playing
  // its tail and stays open for the next sound; when it was cut short (or
  // the device failed) what is queued is dropped and the device closed.
  // Waits a moment at most. True when the sound thread has let go of the
  // source: only then may the caller seek or close what it reads. False
  // when the thread did not finish in that time: it may still call the
  // source, which must then be left alone for the rest of the process.
  bool Finish();

  // Lets what is queued play out and closes the device, waiting through
  // `wait` (which gives up on Esc) at most `timeout_ms` for it, and not at
  // all while the sound thread is stuck.
  void Drain(int timeout_ms, DescriptorWait wait);

  // Sets the mixer's volume (mixer.h) on the sound thread, after the jobs
  // posted before; returns at once.
  void SetVolume(uint32_t volume_word);

 private:
  // On the sound thread: the device (pcm_device.cpp).
  uint32_t PrepareDevice(unsigned rate, unsigned channels, bool int16);
  uint32_t OpenDevice(unsigned rate, unsigned channels, bool int16);
  void CloseDevice();
  void DrainDevice();
  // On the sound thread: feeding (pcm_feed.cpp).
  void Feed(const FrameSource& source);
  bool WriteFrames(const void* data, long frames);
  bool WaitWritable();
  bool WaitForTail();

  Worker worker_;

  // Main thread only.
  bool started_ = false;  // a feed has been started since the last Finish

  // Hand-offs. The main thread makes the descriptors before it posts the
  // job that uses them. prepare_answer_ is the sound thread's until the
  // worker's Await hands it over. feeding_ is cleared (release) after the
  // feed's last call of the source and before end_event_ is signalled; the
  // worker's Await takes over everything the feed did.
  uint32_t prepare_answer_ = 0;
  std::atomic<bool> feeding_{false};
  EventDescriptor end_event_;   // the feed has ended
  EventDescriptor stop_event_;  // main -> sound thread: the feed must stop

  // Sound thread only.
  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  bool int16_samples_ = false;  // else floats
  long period_frames_ = 0;
  long buffer_frames_ = 0;
  bool failed_ = false;  // the device gave up during the current feed
  std::vector<float> floats_;  // read as floats
  std::vector<int16_t> int16s_;  // written as 16-bit samples
  std::vector<pollfd> poll_fds_;  // the stop descriptor, then the device's
};
