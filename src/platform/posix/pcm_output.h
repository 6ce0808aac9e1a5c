// Sound output through ALSA's "default" device, fed by a thread of its own.
//
// The device outlives the sounds played on it: after a sound has been queued
// whole it stays open and running, so the next sound with the same rate and
// channels follows the last sample without a gap, and whatever is still
// queued plays out when the program ends.
#pragma once

#include <poll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;

// Fills `out` with up to `frames` interleaved frames of float samples in
// -1..1 and returns how many it gave; 0 or less at the end of the sound.
// Called on the feeder thread.
using FrameSource = std::function<long(float* out, long frames)>;

class PcmOutput {
 public:
  PcmOutput() = default;
  PcmOutput(const PcmOutput&) = delete;
  PcmOutput& operator=(const PcmOutput&) = delete;
  // Plays out what is queued (Drain).
  ~PcmOutput();

  // Makes the device ready for a sound of `rate` frames a second and
  // `channels` channels. The open device is kept, still playing, when it
  // already has these settings; otherwise it plays out and a new one is
  // opened. Returns 0 or a media error code. Never blocks on a busy device.
  uint32_t Prepare(unsigned rate, unsigned channels);

  // Starts feeding the device from `source` on a thread and returns at once.
  // Returns 0 or a media error code (no device prepared, no thread to be had).
  uint32_t Start(FrameSource source);

  // True from Start until all but the last moment of the sound has played,
  // or the device failed.
  bool Feeding() const { return feeding_.load(std::memory_order_acquire); }

  // A descriptor that polls readable once feeding has ended, until the next
  // Start; -1 before the first Start.
  int EndDescriptor() const { return end_fd_; }

  // Ends feeding. When the sound played to its end the device keeps playing
  // its tail and stays open for the next sound; when it was cut short (or
  // the device failed) what is queued is dropped at once and the device is
  // closed.
  void Finish();

  // Ends feeding as Finish does, then blocks until the queued frames have
  // played and closes the device.
  void Drain();

 private:
  uint32_t OpenDevice(unsigned rate, unsigned channels);
  void CloseDevice();
  bool MakeDescriptors();
  void Feed();
  bool WriteFrames(const void* data, long frames);
  bool WaitWritable();
  bool WaitForTail();

  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  bool float_samples_ = true;  // else signed 16-bit, converted here
  long period_frames_ = 0;
  long buffer_frames_ = 0;

  FrameSource source_;
  std::thread feeder_;
  std::atomic<bool> feeding_{false};
  bool played_through_ = false;  // written by the feeder, read after joining it
  bool failed_ = false;          // likewise: the device gave up
  std::vector<float> samples_;
  std::vector<int16_t> converted_;
  std::vector<pollfd> poll_fds_;  // the stop descriptor, then the device's

  int end_fd_ = -1;   // eventfd: the feeder has ended
  int stop_fd_ = -1;  // eventfd: the feeder must stop
};
