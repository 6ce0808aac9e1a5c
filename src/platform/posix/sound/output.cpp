// The sound output as the main thread drives it: every driver call is a job
// for the sound thread, waited for with a bound.
#include "platform/posix/sound/output.h"

#include <exception>
#include <new>

#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/server/pulse_output.h"

namespace {

// How long the main thread waits for a sound to stop before it leaves the
// output to the sound thread and goes on: Esc must end the program at once
// whatever the output does.
constexpr int kStopWaitMs = 60;

// Where nothing can be played for now.
class NoOutputDriver final : public OutputDriver {
 public:
  uint32_t Prepare(const SoundFormat&, const std::string&) override { return kMediaNoOutput; }
  bool Feed(const FrameSource&, int) override { return false; }
  void Close() override {}
  void Drain() override {}
  void SetVolume(uint32_t) override {}
};

OutputDriver& NoOutput() {
  static NoOutputDriver none;
  return none;
}

}  // namespace

WaitEnd SoundOutput::Prepare(const SoundFormat& format, const std::string& name, DescriptorWait wait,
                             int timeout_ms, uint32_t* error) {
  *error = kMediaNoOutput;
  used_ = true;
  bool posted = false;
  try {
    posted = end_event_.Open() && stop_event_.Open() && worker_.Post([this, format, name] {
      try {
        prepare_answer_ = ChosenDriver().Prepare(format, name);
        // Where the server turned the program away and no other output
        // plays either, the refusal is what the user needs to hear of.
        if (server_refused_ && prepare_answer_ == kMediaNoOutput) prepare_answer_ = kMediaServerRefused;
      } catch (const std::bad_alloc&) {
        prepare_answer_ = kMediaNoMemory;
      } catch (...) {
        prepare_answer_ = kMediaNoOutput;
      }
    });
  } catch (const std::exception&) {
  }
  if (!posted) return WaitEnd::kReady;
  // Given up on, the output the request opens is closed again when it comes.
  const WaitEnd end = worker_.Await(wait, timeout_ms, [this] { CloseQuietly(); });
  if (end == WaitEnd::kReady) *error = prepare_answer_;
  return end;
}

uint32_t SoundOutput::Start(FrameSource source) {
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

bool SoundOutput::Finish() {
  if (!started_) return true;
  if (Feeding()) stop_event_.Signal();
  if (worker_.Await(WaitForDescriptor, kStopWaitMs) != WaitEnd::kReady) return false;
  started_ = false;
  return true;
}

void SoundOutput::Drain(int timeout_ms, DescriptorWait wait) {
  if (!used_ || !Finish()) return;
  bool posted = false;
  try {
    posted = worker_.Post([this] {
      try {
        CurrentDriver().Drain();
      } catch (...) {
        CloseQuietly();
      }
    });
  } catch (const std::exception&) {
  }
  if (posted) worker_.Await(wait, timeout_ms);
}

void SoundOutput::SetVolume(uint32_t volume_word) {
  used_ = true;
  try {
    // The volume is left as it is when it cannot be set.
    worker_.Post([this, volume_word] {
      try {
        ChosenDriver().SetVolume(volume_word);
      } catch (...) {
      }
    });
  } catch (const std::exception&) {
  }
}

// ---- On the sound thread ---------------------------------------------------

OutputDriver& SoundOutput::CurrentDriver() { return driver_ != nullptr ? *driver_ : NoOutput(); }

OutputDriver& SoundOutput::ChosenDriver() {
  if (driver_ != nullptr) return *driver_;
  ServerAnswer answer = ServerAnswer::kNone;
  if (!DeviceNamedByUser()) driver_ = ConnectPulseOutput(&answer);
  // A server that is there but does not answer decides nothing yet: this
  // job has no output, and the next one asks again.
  if (answer == ServerAnswer::kSilent) return NoOutput();
  server_refused_ = answer == ServerAnswer::kRefused;
  if (driver_ == nullptr) driver_ = std::make_unique<AlsaOutput>();
  return *driver_;
}

// After an exception the driver may hold anything: what it has is dropped.
void SoundOutput::CloseQuietly() {
  try {
    CurrentDriver().Close();
  } catch (...) {
    driver_.reset();
  }
}

void SoundOutput::Feed(const FrameSource& source) {
  // A feed that throws (memory that ran out) ends as an output that failed.
  try {
    CurrentDriver().Feed(source, stop_event_.Get());
  } catch (...) {
    CloseQuietly();
  }
  // The hand-off: after this store the source is the main thread's again.
  feeding_.store(false, std::memory_order_release);
  end_event_.Signal();
}
