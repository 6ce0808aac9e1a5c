// The sound output as the main thread drives it: every driver call is a job
// for the sound thread, waited for with a bound.
#include "platform/posix/sound/output.h"

#include <exception>
#include <new>

#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/server/server_output.h"

namespace {

using namespace sound_bounds;

// Where nothing can be played for now.
class NoOutputDriver final : public OutputDriver, public VolumeControl {
 public:
  uint32_t Open(const SoundFormat&, const Buffering&, const std::string&, uint64_t) override { return kMediaNoOutput; }
  bool TakesInt16() const override { return false; }
  Written Write(const void*, long, uint64_t, int) override { return {Outcome::kFailed, 0}; }
  Queued QueuedTime(uint64_t, int) override { return {Outcome::kFailed, false, 0}; }
  bool Suspended() const override { return false; }
  void Drop() override {}
  void Drain(uint64_t) override {}
  void SetVolume(uint32_t, uint64_t) override {}
};

NoOutputDriver& NoOutput() {
  static NoOutputDriver none;
  return none;
}

}  // namespace

void SoundOutput::Connect() {
  if (DeviceNamedByUser()) return;
  const uint64_t deadline = DeadlineAfter(kAnswerMs);
  try {
    worker_.Post([this, deadline] {
      try {
        Choose(deadline);
      } catch (...) {
      }
    });
  } catch (const std::exception&) {
  }
}

WaitEnd SoundOutput::Prepare(const SoundFormat& format, const std::string& name, DescriptorWait wait,
                             int timeout_ms, uint32_t* error) {
  *error = kMediaNoOutput;
  used_ = true;
  const uint64_t deadline = DeadlineAfter(timeout_ms);
  if (!end_event_.Open() || !stop_event_.Open()) return WaitEnd::kReady;
  const auto prepare = [&] {
    return [this, format, name, deadline] {
      try {
        Choose(deadline);
        format_ = format;
        const Buffering buffering = BufferingFor(format, CurrentDriver().TakesShortBuffer());
        prepare_answer_ = CurrentDriver().Open(format, buffering, name, deadline);
        // Where the server turned the program away and no other output
        // plays either, the refusal is what the user needs to hear of.
        if (server_refused_ && prepare_answer_ == kMediaNoOutput) prepare_answer_ = kMediaServerRefused;
      } catch (const std::bad_alloc&) {
        prepare_answer_ = kMediaNoMemory;
      } catch (...) {
        prepare_answer_ = kMediaNoOutput;
      }
    };
  };
  // Given up on, the output the request opens is closed again when it comes.
  const std::optional<WaitEnd> end = worker_.Call(prepare, wait, timeout_ms + kHandOverMs, [this] { DropQuietly(); });
  if (!end) return WaitEnd::kReady;
  if (*end == WaitEnd::kReady) *error = prepare_answer_;
  return *end;
}

uint32_t SoundOutput::Start(FrameSource source) {
  if (!Finish()) return kMediaNoOutput;
  end_event_.Clear();
  stop_event_.Clear();
  feeding_.store(true, std::memory_order_release);
  if (!worker_.Hand([&] { return [this, source = std::move(source)] { Feed(source); }; })) {
    feeding_.store(false, std::memory_order_release);
    return kMediaNoMemory;
  }
  started_ = true;
  return 0;
}

bool SoundOutput::Finish() {
  if (!started_) return true;
  if (Feeding()) stop_event_.Signal();
  if (worker_.Await(WaitForDescriptor, kStopWaitMs) != WaitEnd::kReady) return false;
  started_ = false;
  return true;
}

void SoundOutput::Drain(int timeout_ms, DescriptorWait wait) {
  if (!used_ || !Finish()) return;
  const uint64_t deadline = DeadlineAfter(timeout_ms);
  const auto drain = [this, deadline] {
    try {
      CurrentDriver().Drain(deadline);
    } catch (...) {
      DropQuietly();
    }
  };
  worker_.Call([&] { return drain; }, wait, timeout_ms + kHandOverMs);
}

void SoundOutput::SetVolume(uint32_t volume_word) {
  used_ = true;
  const uint64_t deadline = DeadlineAfter(kAnswerMs);
  // The volume is left as it is when it cannot be set.
  worker_.Hand([&] {
    return [this, volume_word, deadline] {
      try {
        Choose(deadline);
        if (volume_ != nullptr) volume_->SetVolume(volume_word, deadline);
      } catch (...) {
      }
    };
  });
}

// ---- On the sound thread ---------------------------------------------------

OutputDriver& SoundOutput::CurrentDriver() { return driver_ != nullptr ? *driver_ : NoOutput(); }

void SoundOutput::Choose(uint64_t deadline) {
  if (driver_ != nullptr) return;
  ServerAnswer answer = ServerAnswer::kNone;
  if (!DeviceNamedByUser()) {
    if (!server_settings_) server_settings_ = ReadServerSettings();
    driver_ = ConnectServerOutput(*server_settings_, deadline, &answer, &volume_);
  }
  // A server that is there but does not answer decides nothing yet: this
  // job has no output, and the next one asks again.
  if (answer == ServerAnswer::kSilent) return;
  server_refused_ = answer == ServerAnswer::kRefused;
  if (driver_ == nullptr) {
    static AlsaVolume mixer;
    driver_ = std::make_unique<AlsaOutput>();
    volume_ = &mixer;
  }
}

// After an exception the driver may hold anything: what it has is dropped.
void SoundOutput::DropQuietly() {
  try {
    CurrentDriver().Drop();
  } catch (...) {
    driver_.reset();
    volume_ = nullptr;
  }
}

void SoundOutput::Feed(const FrameSource& source) {
  // A feed that throws (memory that ran out) ends as an output that failed.
  try {
    feed_loop_.Play(CurrentDriver(), format_, source, stop_event_.Get());
  } catch (...) {
    DropQuietly();
  }
  // The hand-off: after this store the source is the main thread's again.
  feeding_.store(false, std::memory_order_release);
  end_event_.Signal();
}
