// The sound output as the main thread drives it: every device call is a job
// for the sound thread, waited for with a bound.
#include "platform/posix/sound/pcm_output.h"

#include <exception>

#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/mixer.h"

namespace {

// How long the main thread waits for a sound to stop before it leaves the
// device to the sound thread and goes on: Esc must end the program at once
// whatever the device does.
constexpr int kStopWaitMs = 60;

}  // namespace

WaitEnd PcmOutput::Prepare(unsigned rate, unsigned channels, bool int16, DescriptorWait wait,
                           int timeout_ms, uint32_t* error) {
  *error = kMediaNoOutput;
  if (!end_event_.Open() || !stop_event_.Open() ||
      !worker_.Post([this, rate, channels, int16] { prepare_answer_ = PrepareDevice(rate, channels, int16); })) {
    return WaitEnd::kReady;
  }
  // Given up on, the device the request opens is closed again when it comes.
  const WaitEnd end = worker_.Await(wait, timeout_ms, [this] { CloseDevice(); });
  if (end == WaitEnd::kReady) *error = prepare_answer_;
  return end;
}

uint32_t PcmOutput::Start(FrameSource source) {
  if (!Finish()) return kMediaNoOutput;
  end_event_.Clear();
  stop_event_.Clear();
  feeding_.store(true, std::memory_order_release);
  bool posted = false;
  try {
    posted = worker_.Post([this, source = std::move(source)] { Feed(source); });
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
  if (worker_.Await(WaitForDescriptor, kStopWaitMs) != WaitEnd::kReady) return false;
  started_ = false;
  return true;
}

void PcmOutput::Drain(int timeout_ms, DescriptorWait wait) {
  if (Finish() && worker_.Post([this] { DrainDevice(); })) worker_.Await(wait, timeout_ms);
}

void PcmOutput::SetVolume(uint32_t volume_word) {
  worker_.Post([volume_word] { ApplyVolume(volume_word); });
}
