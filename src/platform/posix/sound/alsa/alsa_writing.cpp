// The ALSA driver's primitives for the feed loop: writing to the device,
// waiting until it takes more, and telling what it holds. On the sound
// thread.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/system.h"

namespace {

using namespace sound_bounds;

uint64_t Sooner(uint64_t deadline, int ms) { return std::min(deadline, DeadlineAfter(ms)); }

}  // namespace

Written AlsaOutput::Write(const void* data, long frames, uint64_t deadline, int stop) {
  if (pcm_ == nullptr) return {Outcome::kFailed, 0};
  if (Suspended()) return {WaitForResume(deadline, stop), 0};
  if (frames == 0) {
    // Only a wait: the device says nothing else the feed loop waits for.
    pollfd stopped = {stop, POLLIN, 0};
    const int ready = PollUntil(&stopped, stop >= 0 ? 1 : 0, deadline);
    return {ready > 0 ? Outcome::kStopped : ready < 0 ? Outcome::kFailed : Outcome::kDone, 0};
  }
  if (!channel_order_.empty()) data = Reordered(data, frames);
  for (;;) {
    const snd_pcm_sframes_t written = alsa_->snd_pcm_writei(pcm_, data, static_cast<snd_pcm_uframes_t>(frames));
    if (written >= 0) return {Outcome::kDone, static_cast<long>(written)};
    if (written == -EAGAIN) {
      const Outcome waited = WaitWritable(deadline, stop);
      if (waited != Outcome::kDone || ClockMilliseconds() >= deadline) return {waited, 0};
      continue;
    }
    if (written == -ESTRPIPE) return {WaitForResume(deadline, stop), 0};
    // An underrun is recovered; anything else ends the sound.
    if (alsa_->snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) return {Outcome::kFailed, 0};
  }
}

const void* AlsaOutput::Reordered(const void* data, long frames) {
  const size_t sample = int16_samples_ ? 2 : 4;
  const size_t channels = channel_order_.size();
  reordered_.resize(static_cast<size_t>(frames) * channels * sample);
  const auto* from = static_cast<const unsigned char*>(data);
  unsigned char* to = reordered_.data();
  for (long frame = 0; frame < frames; ++frame, from += channels * sample) {
    for (const unsigned channel : channel_order_) {
      std::memcpy(to, from + channel * sample, sample);
      to += sample;
    }
  }
  return reordered_.data();
}

Outcome AlsaOutput::WaitForResume(uint64_t deadline, int stop) {
  const int resumed = alsa_->snd_pcm_resume(pcm_);
  if (resumed == 0) return Outcome::kDone;
  // A device that cannot resume by itself starts again from prepared.
  if (resumed != -EAGAIN) return alsa_->snd_pcm_prepare(pcm_) == 0 ? Outcome::kDone : Outcome::kFailed;
  pollfd stopped = {stop, POLLIN, 0};
  const int ready = PollUntil(&stopped, stop >= 0 ? 1 : 0, Sooner(deadline, kAlsaResumeRetryMs));
  return ready > 0 ? Outcome::kStopped : ready < 0 ? Outcome::kFailed : Outcome::kDone;
}

Outcome AlsaOutput::WaitWritable(uint64_t deadline, int stop) {
  const int descriptors = static_cast<int>(poll_fds_.size()) - 1;
  poll_fds_[0] = {stop, POLLIN, 0};
  if (descriptors > 0 &&
      alsa_->snd_pcm_poll_descriptors(pcm_, &poll_fds_[1], static_cast<unsigned>(descriptors)) < 0) {
    return Outcome::kFailed;
  }
  const int timeout = descriptors > 0 ? kAlsaStateCheckMs : kAlsaWriteRetryMs;
  for (;;) {
    const int ready = PollUntil(poll_fds_.data(), poll_fds_.size(), Sooner(deadline, timeout));
    if (ready < 0) return Outcome::kFailed;
    if ((poll_fds_[0].revents & POLLIN) != 0) return Outcome::kStopped;
    const snd_pcm_state_t state = alsa_->snd_pcm_state(pcm_);
    if (state == SND_PCM_STATE_DISCONNECTED) return Outcome::kFailed;
    if (ready == 0 || descriptors == 0) return Outcome::kDone;
    unsigned short events = 0;
    if (alsa_->snd_pcm_poll_descriptors_revents(pcm_, &poll_fds_[1], static_cast<unsigned>(descriptors),
                                         &events) < 0) {
      return Outcome::kFailed;
    }
    if ((events & POLLOUT) != 0) return Outcome::kDone;
    if ((events & (POLLERR | POLLHUP)) != 0) {
      // An underrun or a suspend shows in the next write, which mends it.
      return state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SUSPENDED ? Outcome::kDone : Outcome::kFailed;
    }
  }
}

void AlsaOutput::Start() {
  // A sound shorter than the start threshold has not started the device yet.
  if (pcm_ != nullptr && alsa_->snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) alsa_->snd_pcm_start(pcm_);
}

Queued AlsaOutput::QueuedTime(uint64_t, int) {
  snd_pcm_sframes_t delay = 0;
  if (pcm_ == nullptr || rate_ == 0 || alsa_->snd_pcm_delay(pcm_, &delay) < 0) return {Outcome::kDone, false, 0};
  return {Outcome::kDone, true, static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)) * 1000000 / rate_};
}

bool AlsaOutput::Suspended() const { return pcm_ != nullptr && alsa_->snd_pcm_state(pcm_) == SND_PCM_STATE_SUSPENDED; }
