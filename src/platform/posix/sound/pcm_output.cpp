// Feeding the output device, every call made on the sound thread.
#include "platform/posix/sound/pcm_output.h"

#include <alsa/asoundlib.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <initializer_list>

#include "platform/platform.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/mixer.h"
#include "platform/posix/system.h"

namespace {

// Each period costs the feeder and the sound server a wake-up, so periods
// are long; a drop discards the whole buffer at once whatever its length, so
// Esc silences as fast with a long buffer as with a short one.
constexpr unsigned kBufferMicroseconds = 1000000;
constexpr unsigned kPeriodMicroseconds = 250000;

// The end of a sound is announced when this much of it is left to play: time
// enough for the next sound to be opened and queued behind it without a gap,
// short enough that Esc is rarely too late to cut the rest.
constexpr long kTailMilliseconds = 100;

// A device that neither takes frames nor reports an error for this long is
// asked for its state, so that a vanished sound server ends the sound.
constexpr int kStallCheckMilliseconds = 500;

// How long the main thread waits for a sound to stop before it leaves the
// device to the sound thread and goes on: Esc must end the program at once
// whatever the device does.
constexpr int kStopWaitMs = 60;

// A sound that plays nothing ends as soon as it starts; repeated until Esc,
// it would start again and again without pause. Such feeds end no sooner
// than this after the last one.
constexpr uint64_t kEmptyFeedSpacingMs = 1000;

// Whether `fd` polls readable within `timeout_ms`.
bool WaitReadable(int fd, int timeout_ms) {
  pollfd watched = {fd, POLLIN, 0};
  const uint64_t deadline = platform::MonotonicMilliseconds() + static_cast<uint64_t>(timeout_ms);
  for (;;) {
    const uint64_t now = platform::MonotonicMilliseconds();
    const int left = now >= deadline ? 0 : static_cast<int>(deadline - now);
    const int ready = poll(&watched, 1, left);
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

int16_t ToInt16(float sample) {
  const float clipped = std::clamp(sample, -1.0f, 1.0f);
  return static_cast<int16_t>(std::lrintf(clipped * 32767.0f));
}

// Settings the device accepted; a negative ALSA result when it refused.
int ApplySettings(snd_pcm_t* pcm, unsigned rate, unsigned channels, bool* int16_samples,
                  long* period_frames, long* buffer_frames) {
  snd_pcm_hw_params_t* hw = nullptr;
  snd_pcm_hw_params_alloca(&hw);
  int result = snd_pcm_hw_params_any(pcm, hw);
  if (result < 0) return result;
  result = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
  if (result < 0) return result;
  // The format asked for first, else the other one.
  const snd_pcm_format_t wanted = *int16_samples ? SND_PCM_FORMAT_S16 : SND_PCM_FORMAT_FLOAT;
  const snd_pcm_format_t other = *int16_samples ? SND_PCM_FORMAT_FLOAT : SND_PCM_FORMAT_S16;
  if (snd_pcm_hw_params_set_format(pcm, hw, wanted) != 0) {
    result = snd_pcm_hw_params_set_format(pcm, hw, other);
    if (result < 0) return result;
    *int16_samples = !*int16_samples;
  }
  result = snd_pcm_hw_params_set_channels(pcm, hw, channels);
  if (result < 0) return result;
  snd_pcm_hw_params_set_rate_resample(pcm, hw, 1);
  result = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0);
  if (result < 0) return result;
  unsigned buffer_time = kBufferMicroseconds;
  unsigned period_time = kPeriodMicroseconds;
  snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &buffer_time, nullptr);
  snd_pcm_hw_params_set_period_time_near(pcm, hw, &period_time, nullptr);
  result = snd_pcm_hw_params(pcm, hw);
  if (result < 0) return result;

  snd_pcm_uframes_t period = 0;
  snd_pcm_uframes_t buffer = 0;
  snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
  snd_pcm_hw_params_get_buffer_size(hw, &buffer);
  if (period == 0 || buffer < period) return -EINVAL;

  // Start as soon as one period is queued, so that the first sound does not
  // wait for a whole buffer to be decoded; wake the feeder for each free
  // period.
  snd_pcm_sw_params_t* sw = nullptr;
  snd_pcm_sw_params_alloca(&sw);
  result = snd_pcm_sw_params_current(pcm, sw);
  if (result < 0) return result;
  snd_pcm_sw_params_set_start_threshold(pcm, sw, period);
  snd_pcm_sw_params_set_avail_min(pcm, sw, period);
  result = snd_pcm_sw_params(pcm, sw);
  if (result < 0) return result;
  *period_frames = static_cast<long>(period);
  *buffer_frames = static_cast<long>(buffer);
  return 0;
}

}  // namespace

bool PcmOutput::Held() {
  if (held_ && thread_.Done()) held_ = false;
  return held_;
}

bool PcmOutput::RequestPrepare(unsigned rate, unsigned channels, bool int16) {
  if (Held() || !answer_event_.Open() || !end_event_.Open() || !stop_event_.Open()) return false;
  answer_event_.Clear();
  given_up_.store(false, std::memory_order_release);
  return thread_.Post([this, rate, channels, int16] { AnswerPrepare(rate, channels, int16); });
}

void PcmOutput::GiveUpPrepare() {
  given_up_.store(true, std::memory_order_release);
  held_ = true;
}

uint32_t PcmOutput::Start(FrameSource source) {
  if (!Finish()) return kMediaNoOutput;
  end_event_.Clear();
  stop_event_.Clear();
  feeding_.store(true, std::memory_order_release);
  bool posted = false;
  try {
    posted = thread_.Post([this, source = std::move(source)] { Feed(source); });
  } catch (const std::exception&) {
  }
  if (!posted) {
    feeding_.store(false, std::memory_order_release);
    return kMediaNoMemory;
  }
  started_ = true;
  return 0;
}

bool PcmOutput::Finish() {
  if (!started_) return true;
  if (Feeding()) stop_event_.Signal();
  // A sound thread that was given up on once is not waited for again.
  // The end event comes after the feed's release store; the load in
  // Feeding() then takes over everything the feed did, its last read of the
  // source included.
  if (!WaitReadable(end_event_.Get(), held_ ? 0 : kStopWaitMs) || Feeding()) {
    held_ = true;
    return false;
  }
  started_ = false;
  return true;
}

void PcmOutput::Drain(int timeout_ms, KeyWatchingWait wait) {
  if (!Finish() || Held() || !drained_event_.Open()) return;
  drained_event_.Clear();
  if (thread_.Post([this] { DrainAndAnnounce(); })) wait(drained_event_.Get(), timeout_ms);
}

void PcmOutput::SetVolume(uint32_t volume_word) {
  thread_.Post([volume_word] { ApplyVolume(volume_word); });
}

// ---- On the sound thread ---------------------------------------------------

void PcmOutput::AnswerPrepare(unsigned rate, unsigned channels, bool int16) {
  uint32_t answer = Prepare(rate, channels, int16);
  if (given_up_.load(std::memory_order_acquire)) {
    CloseDevice();
    answer = kMediaNoOutput;
  }
  answer_.store(answer, std::memory_order_release);
  answer_event_.Signal();
}

uint32_t PcmOutput::Prepare(unsigned rate, unsigned channels, bool int16) {
  if (pcm_ != nullptr && (rate != rate_ || channels != channels_)) DrainDevice();
  if (pcm_ != nullptr) {
    switch (snd_pcm_state(pcm_)) {
      case SND_PCM_STATE_PREPARED:
      case SND_PCM_STATE_RUNNING:
        return 0;
      case SND_PCM_STATE_XRUN:
      case SND_PCM_STATE_SETUP:
        if (snd_pcm_prepare(pcm_) == 0) return 0;
        break;
      default:
        break;
    }
    CloseDevice();
  }
  return OpenDevice(rate, channels, int16);
}

uint32_t PcmOutput::OpenDevice(unsigned rate, unsigned channels, bool int16) {
  SilenceLibraries();
  snd_pcm_t* pcm = nullptr;
  // Non-blocking, so that a device in use fails at once instead of waiting.
  int result = snd_pcm_open(&pcm, OutputDeviceName(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (result < 0) return CodeForOutputOpenError(result);
  bool int16_samples = int16;
  long period = 0;
  long buffer = 0;
  result = ApplySettings(pcm, rate, channels, &int16_samples, &period, &buffer);
  if (result < 0) {
    snd_pcm_close(pcm);
    return CodeForOutputSetupError(result);
  }
  const int descriptors = snd_pcm_poll_descriptors_count(pcm);
  try {
    const size_t samples = static_cast<size_t>(period) * channels;
    // A 16-bit sound on a 16-bit device is never read as floats.
    floats_.resize(int16 && int16_samples ? 0 : samples);
    int16s_.resize(int16_samples ? samples : 0);
    poll_fds_.assign(1 + static_cast<size_t>(std::max(descriptors, 0)), pollfd{});
  } catch (const std::exception&) {
    snd_pcm_close(pcm);
    return kMediaNoMemory;
  }
  pcm_ = pcm;
  rate_ = rate;
  channels_ = channels;
  int16_samples_ = int16_samples;
  period_frames_ = period;
  buffer_frames_ = buffer;
  return 0;
}

void PcmOutput::CloseDevice() {
  if (pcm_ == nullptr) return;
  snd_pcm_drop(pcm_);
  snd_pcm_close(pcm_);
  pcm_ = nullptr;
  failed_ = false;
}

void PcmOutput::DrainAndAnnounce() {
  DrainDevice();
  drained_event_.Signal();
}

void PcmOutput::DrainDevice() {
  if (pcm_ == nullptr) return;
  snd_pcm_nonblock(pcm_, 0);
  // A sound shorter than the buffer has not started the device yet.
  if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
  snd_pcm_drain(pcm_);
  CloseDevice();
}

void PcmOutput::Feed(const FrameSource& source) {
  failed_ = pcm_ == nullptr;
  bool played_through = false;
  bool played_nothing = true;
  // Read in whole periods, straight into the buffer the device takes where
  // the formats agree.
  const bool as_int16 = int16_samples_ && source.int16s;
  if (!failed_ && !as_int16 && floats_.size() < static_cast<size_t>(period_frames_) * channels_) {
    try {
      floats_.resize(static_cast<size_t>(period_frames_) * channels_);
    } catch (const std::exception&) {
      failed_ = true;
    }
  }
  while (!failed_) {
    const long frames = as_int16 ? source.int16s(int16s_.data(), period_frames_)
                                 : source.floats(floats_.data(), period_frames_);
    if (frames <= 0) {
      played_through = true;
      break;
    }
    const void* data = floats_.data();
    if (int16_samples_) {
      if (!as_int16) {
        const size_t count = static_cast<size_t>(frames) * channels_;
        std::transform(floats_.begin(), floats_.begin() + static_cast<long>(count), int16s_.begin(), ToInt16);
      }
      data = int16s_.data();
    }
    played_nothing = false;
    if (!WriteFrames(data, frames)) break;
  }
  if (played_through) {
    // A sound shorter than the buffer has not started the device yet.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
    played_through = WaitForTail();
    if (played_nothing) played_through = SpaceEmptyFeed();
  }
  // Cut short: what is queued goes at once. This is the call a frozen
  // server can hold, which is why it is made here and not by the caller.
  if (!played_through || failed_) CloseDevice();
  // The hand-off: after this store the source is the main thread's again.
  feeding_.store(false, std::memory_order_release);
  end_event_.Signal();
}

bool PcmOutput::SpaceEmptyFeed() {
  const uint64_t now = platform::MonotonicMilliseconds();
  const uint64_t due = last_empty_feed_ms_ + kEmptyFeedSpacingMs;
  bool stopped = false;
  if (last_empty_feed_ms_ != 0 && now < due) {
    pollfd stop = {stop_event_.Get(), POLLIN, 0};
    stopped = poll(&stop, 1, static_cast<int>(due - now)) > 0;
  }
  last_empty_feed_ms_ = platform::MonotonicMilliseconds();
  return !stopped;
}

bool PcmOutput::WaitForTail() {
  const long tail = static_cast<long>(rate_) * kTailMilliseconds / 1000;
  // Bounded, should the device stop taking frames without saying so.
  long budget = (buffer_frames_ * 1000 / static_cast<long>(rate_)) * 2 + 500;
  pollfd stop = {stop_event_.Get(), POLLIN, 0};
  while (budget > 0) {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= tail) return true;
    const long wait = std::clamp((delay - tail) * 1000 / static_cast<long>(rate_), 10L, budget);
    const int ready = poll(&stop, 1, static_cast<int>(wait));
    if (ready > 0) return false;
    if (ready < 0 && errno != EINTR) return true;
    if (ready == 0) budget -= wait;
  }
  return true;
}

bool PcmOutput::WriteFrames(const void* data, long frames) {
  const size_t frame_bytes = channels_ * (int16_samples_ ? sizeof(int16_t) : sizeof(float));
  const char* bytes = static_cast<const char*>(data);
  while (frames > 0) {
    const snd_pcm_sframes_t written =
        snd_pcm_writei(pcm_, bytes, static_cast<snd_pcm_uframes_t>(frames));
    if (written == -EAGAIN) {
      if (!WaitWritable()) return false;
      continue;
    }
    if (written < 0) {
      // An underrun or a suspend is recovered; anything else ends the sound.
      if (snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) {
        failed_ = true;
        return false;
      }
      continue;
    }
    bytes += static_cast<size_t>(written) * frame_bytes;
    frames -= written;
  }
  return true;
}

bool PcmOutput::WaitWritable() {
  const int descriptors = static_cast<int>(poll_fds_.size()) - 1;
  poll_fds_[0] = {stop_event_.Get(), POLLIN, 0};
  if (descriptors > 0 &&
      snd_pcm_poll_descriptors(pcm_, &poll_fds_[1], static_cast<unsigned>(descriptors)) < 0) {
    failed_ = true;
    return false;
  }
  // A device without descriptors is written again after a period.
  const int timeout =
      descriptors > 0 ? kStallCheckMilliseconds : static_cast<int>(kPeriodMicroseconds / 1000);
  for (;;) {
    const int ready = poll(poll_fds_.data(), poll_fds_.size(), timeout);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0 || (poll_fds_[0].revents & POLLIN) != 0) {
      if (ready < 0) failed_ = true;
      return false;
    }
    const snd_pcm_state_t state = snd_pcm_state(pcm_);
    if (state == SND_PCM_STATE_DISCONNECTED) {
      failed_ = true;
      return false;
    }
    if (ready == 0 || descriptors == 0) return true;
    unsigned short events = 0;
    if (snd_pcm_poll_descriptors_revents(pcm_, &poll_fds_[1], static_cast<unsigned>(descriptors),
                                         &events) < 0) {
      failed_ = true;
      return false;
    }
    if ((events & POLLOUT) != 0) return true;
    if ((events & (POLLERR | POLLHUP)) != 0) {
      // An underrun or a suspend shows in the next write, which mends it.
      if (state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED) return true;
      failed_ = true;
      return false;
    }
  }
}
