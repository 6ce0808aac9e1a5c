// The ALSA device and its settings, on the sound thread.
#include <algorithm>
#include <cerrno>
#include <exception>

#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/system.h"

namespace {

// Settings the device accepted; a negative ALSA result when it refused.
int ApplySettings(const AlsaFunctions& alsa, snd_pcm_t* pcm, unsigned rate, unsigned channels,
                  const Buffering& buffering, bool* int16_samples) {
  snd_pcm_hw_params_t* hw = ALSA_ON_STACK(alsa, pcm_hw_params);
  int result = alsa.snd_pcm_hw_params_any(pcm, hw);
  if (result < 0) return result;
  result = alsa.snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (result < 0) return result;
  // The format asked for first, else the other one.
  const snd_pcm_format_t wanted = *int16_samples ? SND_PCM_FORMAT_S16 : SND_PCM_FORMAT_FLOAT;
  const snd_pcm_format_t other = *int16_samples ? SND_PCM_FORMAT_FLOAT : SND_PCM_FORMAT_S16;
  if (alsa.snd_pcm_hw_params_set_format(pcm, hw, wanted) != 0) {
    result = alsa.snd_pcm_hw_params_set_format(pcm, hw, other);
    if (result < 0) return result;
    *int16_samples = !*int16_samples;
  }
  result = alsa.snd_pcm_hw_params_set_channels(pcm, hw, channels);
  if (result < 0) return result;
  alsa.snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
  result = alsa.snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
  if (result < 0) return result;
  unsigned buffer_time = static_cast<unsigned>(buffering.buffer_us);
  unsigned period_time = static_cast<unsigned>(buffering.period_us);
  alsa.snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_time, nullptr);
  alsa.snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_time, nullptr);
  result = alsa.snd_pcm_hw_params(pcm, hw);
  if (result < 0) return result;

  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
  alsa.snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  alsa.snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  if (period == 0 || buffer < period) return -EINVAL;

  // Start as soon as one period is queued, so that the first sound does not
  // wait for a whole buffer to be decoded; wake the feeder for each free
  // period.
  snd_pcm_sw_params_t* sw = ALSA_ON_STACK(alsa, pcm_sw_params);
  result = alsa.snd_pcm_sw_params_current(pcm, sw);
  if (result < 0) return result;
  alsa.snd_pcm_sw_params_set_start_threshold(pcm, sw, period);
  alsa.snd_pcm_sw_params_set_avail_min(pcm, sw, period);
  return alsa.snd_pcm_sw_params(pcm, sw);
}

}  // namespace

AlsaOutput::AlsaOutput() : AlsaOutput(AlsaLibrary()) {}

uint32_t AlsaOutput::Open(const SoundFormat& format, const Buffering& buffering, const std::string&, uint64_t deadline) {
  const unsigned rate = format.rate;
  const unsigned channels = format.channels;
  // What no output plays is refused before any device or buffer is made
  // for it, as the server's driver does.
  using sound_bounds::kMaxChannels, sound_bounds::kMaxRate;
  if (rate == 0 || rate > kMaxRate || channels == 0 || channels > kMaxChannels) return kMediaOutputFormat;
  if (alsa_ == nullptr) return kMediaNoOutput;
  if (pcm_ != nullptr && (rate != rate_ || channels != channels_ || !(buffering == buffering_))) Drain(deadline);
  if (pcm_ != nullptr) {
    switch (alsa_->snd_pcm_state(pcm_)) {
      case SND_PCM_STATE_PREPARED:
      case SND_PCM_STATE_RUNNING:
        return 0;
      case SND_PCM_STATE_XRUN:
      case SND_PCM_STATE_SETUP:
        if (alsa_->snd_pcm_prepare(pcm_) == 0) return 0;
        break;
      default:
        break;
    }
    Drop();
  }
  return OpenDevice(rate, channels, format.int16, buffering);
}

uint32_t AlsaOutput::OpenDevice(unsigned rate, unsigned channels, bool int16, const Buffering& buffering) {
  SilenceLibraries();
  snd_pcm_t* pcm = nullptr;
  // Non-blocking, so that a device in use fails at once instead of waiting.
  int result = alsa_->snd_pcm_open(&pcm, OutputDeviceName(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (result < 0) return CodeForOutputOpenError(result);
  bool int16_samples = int16;
  result = ApplySettings(*alsa_, pcm, rate, channels, buffering, &int16_samples);
  if (result < 0) {
    alsa_->snd_pcm_close(pcm);
    return CodeForOutputSetupError(result);
  }
  const int descriptors = alsa_->snd_pcm_poll_descriptors_count(pcm);
  try {
    poll_fds_.assign(1 + static_cast<size_t>(std::max(descriptors, 0)), pollfd{});
  } catch (const std::exception&) {
    alsa_->snd_pcm_close(pcm);
    return kMediaNoMemory;
  }
  pcm_ = pcm;
  rate_ = rate;
  channels_ = channels;
  buffering_ = buffering;
  int16_samples_ = int16_samples;
  return 0;
}

void AlsaOutput::Drop() {
  if (pcm_ == nullptr) return;
  alsa_->snd_pcm_drop(pcm_);
  alsa_->snd_pcm_close(pcm_);
  pcm_ = nullptr;
}

void AlsaOutput::Drain(uint64_t) {
  if (pcm_ == nullptr) return;
  alsa_->snd_pcm_nonblock(pcm_, 0);
  Start();
  alsa_->snd_pcm_drain(pcm_);
  Drop();
}
