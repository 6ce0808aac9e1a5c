// The ALSA driver of the sound output (output.h): ALSA's "default" device,
// or the one AUDIODEV names (mixer.h), through libasound as alsa_library.h
// loads it. alsa_device.cpp opens the device and settles its settings,
// alsa_writing.cpp writes to it and tells what it holds; the feed loop
// (feed.h) drives both. Everything here runs on the sound thread.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/driver.h"
#include "platform/posix/waits.h"

typedef struct _snd_pcm snd_pcm_t;
struct AlsaFunctions;

class AlsaOutput final : public OutputDriver {
 public:
  // On the process's libasound (AlsaLibrary), loaded here.
  AlsaOutput();
  // On `alsa`; nullptr is a library that is absent: no sound output.
  explicit AlsaOutput(const AlsaFunctions* alsa) : alsa_(alsa) {}
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;
  ~AlsaOutput() override { Drop(); }

  // Opening a device does not wait, and ALSA's calls take no deadline: a
  // plug-in whose server is frozen holds them, which the main thread's own
  // bound covers. A rate or channel count past bounds.h's is
  // kMediaOutputFormat, whatever the device.
  uint32_t Open(const SoundFormat& format, const Buffering& buffering, const std::string& name,
                uint64_t deadline) override;
  // A device behind ALSA may be a plug-in that feeds a server in its own
  // cycles (pulse, pipewire): a short buffer there lets a cycle pass empty.
  bool TakesShortBuffer() const override { return false; }
  bool TakesInt16() const override { return int16_samples_; }
  Written Write(const void* data, long frames, uint64_t deadline, int stop) override;
  void Start() override;
  Queued QueuedTime(uint64_t deadline, int stop) override;
  bool Suspended() const override;
  void Drop() override;
  // ALSA's drain blocks until what is queued has played: no more than the
  // tail once a sound has played through.
  void Drain(uint64_t deadline) override;

 private:
  uint32_t OpenDevice(unsigned rate, unsigned channels, bool int16, const Buffering& buffering);
  Outcome WaitWritable(uint64_t deadline, int stop);
  Outcome WaitForResume(uint64_t deadline, int stop);

  const AlsaFunctions* const alsa_;
  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  Buffering buffering_;
  bool int16_samples_ = false;  // else floats
  std::vector<pollfd> poll_fds_;  // the stop descriptor, then the device's
};

// The volume of the device's mixer (mixer.h), through the process's
// libasound.
class AlsaVolume final : public VolumeControl {
 public:
  void SetVolume(uint32_t volume_word, uint64_t) override;
};
