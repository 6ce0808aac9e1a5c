// The ALSA driver of the sound output (output.h): ALSA's "default" device,
// or the one AUDIODEV names (mixer.h). alsa_device.cpp opens the device and
// settles its settings, alsa_feed.cpp feeds it and waits for the tail.
// Everything here runs on the sound thread.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/sound/driver.h"
#include "platform/posix/waits.h"

typedef struct _snd_pcm snd_pcm_t;

class AlsaOutput final : public OutputDriver {
 public:
  AlsaOutput() = default;
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;
  ~AlsaOutput() override { Close(); }

  uint32_t Prepare(const SoundFormat& format, const std::string& name) override;
  bool Feed(const FrameSource& source, int stop) override;
  void Close() override;
  void Drain() override;
  void SetVolume(uint32_t volume_word) override;

 private:
  uint32_t Open(unsigned rate, unsigned channels, bool int16);
  bool WriteFrames(const void* data, long frames, int stop);
  bool WaitWritable(int stop);
  bool WaitForTail(int stop);

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
