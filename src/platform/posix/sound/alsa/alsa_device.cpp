// The ALSA device and its settings, on the sound thread.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iterator>

#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/system.h"

namespace {

// ALSA's position of each of libsndfile's speakers, by its number (0 is
// none).
constexpr unsigned kAlsaSpeakers[] = {
    SND_CHMAP_UNKNOWN, SND_CHMAP_MONO, SND_CHMAP_FL, SND_CHMAP_FR, SND_CHMAP_FC,  // none, mono, left, right, centre
    SND_CHMAP_FL, SND_CHMAP_FR, SND_CHMAP_FC, SND_CHMAP_RC, SND_CHMAP_RL, SND_CHMAP_RR, SND_CHMAP_LFE,
    SND_CHMAP_FLC, SND_CHMAP_FRC, SND_CHMAP_SL, SND_CHMAP_SR, SND_CHMAP_TC, SND_CHMAP_TFL, SND_CHMAP_TFR,
    SND_CHMAP_TFC, SND_CHMAP_TRL, SND_CHMAP_TRR, SND_CHMAP_TRC};

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

std::vector<unsigned> DeviceChannelOrder(const std::vector<int>& sound_map, const std::vector<unsigned>& device) {
  if (sound_map.size() != device.size()) return {};
  std::vector<unsigned> order;
  std::vector<bool> taken(sound_map.size());
  const auto speaker_of = [&sound_map](size_t channel) -> unsigned {
    const int speaker = sound_map[channel];
    const bool known = speaker > 0 && static_cast<size_t>(speaker) < std::size(kAlsaSpeakers);
    return known ? kAlsaSpeakers[speaker] : unsigned{SND_CHMAP_UNKNOWN};
  };
  for (const unsigned position : device) {
    const unsigned speaker = position & SND_CHMAP_POSITION_MASK;
    size_t from = 0;
    while (from < sound_map.size() && (taken[from] || speaker == SND_CHMAP_UNKNOWN || speaker_of(from) != speaker)) {
      ++from;
    }
    if (from == sound_map.size()) return {};
    taken[from] = true;
    order.push_back(static_cast<unsigned>(from));
  }
  for (size_t i = 0; i < order.size(); ++i) {
    if (order[i] != i) return order;
  }
  return {};
}

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
    bool ready = false;
    switch (alsa_->snd_pcm_state(pcm_)) {
      case SND_PCM_STATE_PREPARED:
      case SND_PCM_STATE_RUNNING:
        ready = true;
        break;
      case SND_PCM_STATE_XRUN:
      case SND_PCM_STATE_SETUP:
        ready = alsa_->snd_pcm_prepare(pcm_) == 0;
        break;
      default:
        break;
    }
    if (!ready) Drop();
  }
  const uint32_t opened = pcm_ != nullptr ? 0 : OpenDevice(rate, channels, format.int16, buffering);
  if (opened == 0) channel_order_ = DeviceChannelOrder(format.channel_map, device_positions_);
  return opened;
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
  device_positions_.clear();
  if (snd_pcm_chmap_t* map = alsa_->snd_pcm_get_chmap(pcm)) {
    device_positions_.assign(map->pos, map->pos + map->channels);
    std::free(map);
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
