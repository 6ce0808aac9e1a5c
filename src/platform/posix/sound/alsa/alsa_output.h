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

// Where each of a device's channels takes its sample from: for device
// channel d, the sound's channel order[d]. `sound_map` names the sound's
// speakers in libsndfile's SF_CHANNEL_MAP_* values (SoundFormat), `device`
// the device's in ALSA's SND_CHMAP_* positions. Empty where the channels go
// as they come: the same order, a map either side lacks, or maps that do
// not name the same speakers.
std::vector<unsigned> DeviceChannelOrder(const std::vector<int>& sound_map, const std::vector<unsigned>& device);

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
  // The frames in the device's channel order, in reordered_.
  const void* Reordered(const void* data, long frames);
  Outcome WaitWritable(uint64_t deadline, int stop);
  Outcome WaitForResume(uint64_t deadline, int stop);

  const AlsaFunctions* const alsa_;
  snd_pcm_t* pcm_ = nullptr;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  Buffering buffering_;
  bool int16_samples_ = false;  // else floats
  std::vector<pollfd> poll_fds_;  // the stop descriptor, then the device's
  // A device that says where its speakers are gets each of the sound's
  // channels on the speaker the sound names: a 5.1 sound's centre is not
  // the rear left of a card whose order differs.
  std::vector<unsigned> device_positions_;  // empty when the device does not say
  std::vector<unsigned> channel_order_;     // DeviceChannelOrder for the sound playing
  std::vector<unsigned char> reordered_;
};

// The volume of the device's mixer (mixer.h), through the process's
// libasound.
class AlsaVolume final : public VolumeControl {
 public:
  void SetVolume(uint32_t volume_word, uint64_t) override;
};
