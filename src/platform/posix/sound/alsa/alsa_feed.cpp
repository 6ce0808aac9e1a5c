// Feeding the ALSA device and waiting for the tail of a sound, on the sound
// thread.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <exception>

#include "platform/posix/sound/alsa/alsa_output.h"

namespace {

// The end of a sound is announced when this much of it is left to play: time
// enough for the next sound to be opened and queued behind it without a gap,
// short enough that Esc is rarely too late to cut the rest.
constexpr long kTailMilliseconds = 100;

// A device that neither takes frames nor reports an error for this long is
// asked for its state, so that a vanished sound server ends the sound.
constexpr int kStallCheckMilliseconds = 500;

// Without poll descriptors, the device is written again after this long.
constexpr int kWriteRetryMs = 250;

int16_t ToInt16(float sample) {
  const float clipped = std::clamp(sample, -1.0f, 1.0f);
  return static_cast<int16_t>(std::lrintf(clipped * 32767.0f));
}

}  // namespace

bool AlsaOutput::Feed(const FrameSource& source, int stop) {
  failed_ = pcm_ == nullptr;
  bool played_through = false;
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
    if (!WriteFrames(data, frames, stop)) break;
  }
  if (played_through) {
    // A sound shorter than the buffer has not started the device yet.
    if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm_);
    played_through = WaitForTail(stop);
  }
  // Cut short: what is queued goes at once. This is the call a frozen
  // server can hold, which is why it is made here and not by the caller.
  if (!played_through || failed_) Close();
  return played_through && !failed_;
}

bool AlsaOutput::WaitForTail(int stop) {
  const long tail = static_cast<long>(rate_) * kTailMilliseconds / 1000;
  // Bounded, should the device stop taking frames without saying so.
  long budget = (buffer_frames_ * 1000 / static_cast<long>(rate_)) * 2 + 500;
  pollfd stopped = {stop, POLLIN, 0};
  while (budget > 0) {
    snd_pcm_sframes_t delay = 0;
    if (snd_pcm_delay(pcm_, &delay) < 0 || delay <= tail) return true;
    const long wait = std::clamp((delay - tail) * 1000 / static_cast<long>(rate_), 10L, budget);
    const int ready = PollUntil(&stopped, 1, DeadlineAfter(static_cast<int>(wait)));
    if (ready > 0) return false;
    if (ready < 0) return true;
    budget -= wait;
  }
  return true;
}

bool AlsaOutput::WriteFrames(const void* data, long frames, int stop) {
  const size_t frame_bytes = channels_ * (int16_samples_ ? sizeof(int16_t) : sizeof(float));
  const char* bytes = static_cast<const char*>(data);
  while (frames > 0) {
    const snd_pcm_sframes_t written =
        snd_pcm_writei(pcm_, bytes, static_cast<snd_pcm_uframes_t>(frames));
    if (written == -EAGAIN) {
      if (!WaitWritable(stop)) return false;
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

bool AlsaOutput::WaitWritable(int stop) {
  const int descriptors = static_cast<int>(poll_fds_.size()) - 1;
  poll_fds_[0] = {stop, POLLIN, 0};
  if (descriptors > 0 &&
      snd_pcm_poll_descriptors(pcm_, &poll_fds_[1], static_cast<unsigned>(descriptors)) < 0) {
    failed_ = true;
    return false;
  }
  const int timeout = descriptors > 0 ? kStallCheckMilliseconds : kWriteRetryMs;
  for (;;) {
    const int ready = PollUntil(poll_fds_.data(), poll_fds_.size(), DeadlineAfter(timeout));
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
