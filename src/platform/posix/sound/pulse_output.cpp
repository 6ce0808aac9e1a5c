// Sound on a PulseAudio-protocol server, every call on the sound thread.
#include "platform/posix/sound/pulse_output.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/pulse_library.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

namespace {

// A server that says nothing for this long counts as no output, as a device
// that does not open does.
constexpr int kAnswerWaitMs = 5000;
// The server holds up to a second of sound and asks for a quarter at a time:
// few wake-ups. It starts playing once 10 ms are there, so the first sound
// comes at once; after an underrun it waits for as much again.
constexpr pa_usec_t kBufferUs = 1000000;
constexpr pa_usec_t kRequestUs = 250000;
constexpr pa_usec_t kStartUs = 10000;
// The end of a sound is announced when this much of it is left to play: time
// enough for the next sound to be queued behind it without a gap.
constexpr pa_usec_t kTailUs = 100000;
// How long a closing stream's last words may take to leave.
constexpr int kSendWaitMs = 50;
// A server that takes no sound and says nothing for this long has hung: the
// sound ends, as it would on a device that stopped.
constexpr int kStallMs = static_cast<int>(kBufferUs / 1000) * 2 + 500;

// libpulse, once a server is to be talked to.
const PulseLibrary* lib = nullptr;

// Whether a server may be listening: PULSE_SERVER names one, or the user's
// runtime folder or the system's holds the socket of one. A server found
// only in other ways (client.conf, X11) is still played on, through ALSA's
// plug-in.
bool ServerMayListen() {
  const char* named = std::getenv("PULSE_SERVER");
  if (named != nullptr && named[0] != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string user = runtime != nullptr && runtime[0] == '/' ? std::string(runtime)
                                                                   : "/run/user/" + std::to_string(getuid());
  struct stat status{};
  for (const std::string& socket : {user + "/pulse/native", std::string("/run/pulse/native")}) {
    if (stat(socket.c_str(), &status) == 0 && S_ISSOCK(status.st_mode)) return true;
  }
  return false;
}

bool OnRightSide(pa_channel_position_t position) {
  switch (position) {
    case PA_CHANNEL_POSITION_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_REAR_RIGHT:
    case PA_CHANNEL_POSITION_SIDE_RIGHT:
    case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
    case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
    case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
      return true;
    default:
      return false;
  }
}

uint32_t CodeForServerError(int error) {
  switch (error) {
    case PA_ERR_INVALID:
    case PA_ERR_NOTSUPPORTED:
      return kMediaOutputFormat;
    case PA_ERR_BUSY:
      return kMediaOutputBusy;
    default:
      return kMediaNoOutput;
  }
}

class PulseOutput final : public OutputDriver {
 public:
  PulseOutput() : loop_(lib->pa_mainloop_new()) {
    if (loop_ != nullptr) lib->pa_mainloop_set_poll_func(loop_, PollWithStop, this);
  }
  PulseOutput(const PulseOutput&) = delete;
  PulseOutput& operator=(const PulseOutput&) = delete;
  ~PulseOutput() override {
    Close();
    Disconnect();
    if (loop_ != nullptr) lib->pa_mainloop_free(loop_);
  }

  ServerAnswer Connect();
  uint32_t Prepare(unsigned rate, unsigned channels, bool int16, const std::string& name) override;
  bool Feed(const FrameSource& source, int stop) override;
  void Close() override;
  void Drain() override;
  void SetVolume(uint32_t volume_word) override;

 private:
  // Runs the main loop until `done()`, `deadline`, or (with `stop` >= 0) the
  // stop descriptor polls readable; true when done.
  template <typename Done>
  bool RunUntil(Done done, uint64_t deadline, int stop = -1);
  // Waits for `operation` (which it releases) to end; true when it did.
  bool Complete(pa_operation* operation);
  static int PollWithStop(pollfd* fds, unsigned long count, int timeout_ms, void* self);
  bool ContextReady() const { return context_ != nullptr && lib->pa_context_get_state(context_) == PA_CONTEXT_READY; }
  bool StreamReady() const {
    return ContextReady() && stream_ != nullptr && lib->pa_stream_get_state(stream_) == PA_STREAM_READY;
  }
  void Disconnect();
  bool WaitForTail(int stop);

  pa_mainloop* loop_;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_sample_spec spec_{};
  // What the running wait watches.
  std::vector<pollfd> polled_;
  int stop_ = -1;
  bool stopped_ = false;
  uint64_t deadline_ = 0;
};

template <typename Done>
bool PulseOutput::RunUntil(Done done, uint64_t deadline, int stop) {
  stop_ = stop;
  stopped_ = false;
  deadline_ = deadline;
  while (!done()) {
    if (stopped_ || platform::MonotonicMilliseconds() >= deadline) return false;
    if (lib->pa_mainloop_iterate(loop_, 1, nullptr) < 0) return false;
  }
  return true;
}

int PulseOutput::PollWithStop(pollfd* fds, unsigned long count, int timeout_ms, void* self) {
  PulseOutput& output = *static_cast<PulseOutput*>(self);
  output.polled_.assign(fds, fds + count);
  if (output.stop_ >= 0) output.polled_.push_back({output.stop_, POLLIN, 0});
  uint64_t until = output.deadline_;
  if (timeout_ms >= 0) until = std::min(until, platform::MonotonicMilliseconds() + static_cast<uint64_t>(timeout_ms));
  if (PollUntil(output.polled_.data(), output.polled_.size(), until) < 0) return -1;
  int ready = 0;
  for (unsigned long i = 0; i < count; ++i) {
    fds[i].revents = output.polled_[i].revents;
    if (fds[i].revents != 0) ++ready;
  }
  if (output.stop_ >= 0 && (output.polled_.back().revents & POLLIN) != 0) output.stopped_ = true;
  return ready;
}

bool PulseOutput::Complete(pa_operation* operation) {
  if (operation == nullptr) return false;
  const bool done = RunUntil([&] { return lib->pa_operation_get_state(operation) != PA_OPERATION_RUNNING; },
                             DeadlineAfter(kAnswerWaitMs));
  if (!done) lib->pa_operation_cancel(operation);
  lib->pa_operation_unref(operation);
  return done;
}

ServerAnswer PulseOutput::Connect() {
  Disconnect();
  if (loop_ == nullptr) return ServerAnswer::kNone;
  // The name is the application's name the server shows.
  context_ = lib->pa_context_new(lib->pa_mainloop_get_api(loop_), "PELDO");
  if (context_ == nullptr || lib->pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    return ServerAnswer::kNone;
  }
  const bool settled = RunUntil(
      [this] {
        const pa_context_state_t state = lib->pa_context_get_state(context_);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
      },
      DeadlineAfter(kAnswerWaitMs));
  if (ContextReady()) return ServerAnswer::kReady;
  Disconnect();
  return settled ? ServerAnswer::kNone : ServerAnswer::kSilent;
}

void PulseOutput::Disconnect() {
  if (context_ == nullptr) return;
  lib->pa_context_disconnect(context_);
  lib->pa_context_unref(context_);
  context_ = nullptr;
}

uint32_t PulseOutput::Prepare(unsigned rate, unsigned channels, bool int16, const std::string& name) {
  pa_sample_spec wanted{};
  wanted.format = int16 ? PA_SAMPLE_S16NE : PA_SAMPLE_FLOAT32NE;
  wanted.rate = rate;
  wanted.channels = static_cast<uint8_t>(std::min(channels, 255u));
  if (channels > PA_CHANNELS_MAX || lib->pa_sample_spec_valid(&wanted) == 0) return kMediaOutputFormat;
  if (StreamReady() && lib->pa_sample_spec_equal(&wanted, &spec_) != 0) return 0;
  if (StreamReady()) Drain();
  Close();
  // A server that went away may be back.
  if (!ContextReady() && Connect() != ServerAnswer::kReady) return kMediaNoOutput;

  pa_proplist* properties = lib->pa_proplist_new();
  lib->pa_proplist_sets(properties, PA_PROP_MEDIA_NAME, name.c_str());
  stream_ = lib->pa_stream_new_with_proplist(context_, name.c_str(), &wanted, nullptr, properties);
  lib->pa_proplist_free(properties);
  if (stream_ == nullptr) return CodeForServerError(lib->pa_context_errno(context_));
  pa_buffer_attr buffer{};
  buffer.maxlength = static_cast<uint32_t>(-1);
  buffer.tlength = static_cast<uint32_t>(lib->pa_usec_to_bytes(kBufferUs, &wanted));
  buffer.prebuf = static_cast<uint32_t>(lib->pa_usec_to_bytes(kStartUs, &wanted));
  buffer.minreq = static_cast<uint32_t>(lib->pa_usec_to_bytes(kRequestUs, &wanted));
  buffer.fragsize = static_cast<uint32_t>(-1);
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING | PA_STREAM_AUTO_TIMING_UPDATE);
  if (lib->pa_stream_connect_playback(stream_, nullptr, &buffer, flags, nullptr, nullptr) < 0) {
    const uint32_t code = CodeForServerError(lib->pa_context_errno(context_));
    Close();
    return code;
  }
  RunUntil([this] { return lib->pa_stream_get_state(stream_) != PA_STREAM_CREATING; }, DeadlineAfter(kAnswerWaitMs));
  if (!StreamReady()) {
    const uint32_t code = ContextReady() ? CodeForServerError(lib->pa_context_errno(context_)) : kMediaNoOutput;
    Close();
    return code;
  }
  spec_ = wanted;
  return 0;
}

bool PulseOutput::Feed(const FrameSource& source, int stop) {
  const size_t frame_bytes = lib->pa_frame_size(&spec_);
  const bool as_int16 = spec_.format == PA_SAMPLE_S16NE;
  bool played_through = StreamReady() && (as_int16 ? bool(source.int16s) : bool(source.floats));
  // Straight into the server's shared memory, in the format the stream takes.
  while (played_through) {
    if (!RunUntil([&] { return !StreamReady() || lib->pa_stream_writable_size(stream_) >= frame_bytes; },
                  DeadlineAfter(kStallMs), stop) ||
        !StreamReady()) {
      played_through = false;
      break;
    }
    void* data = nullptr;
    size_t bytes = lib->pa_stream_writable_size(stream_);
    if (lib->pa_stream_begin_write(stream_, &data, &bytes) < 0 || data == nullptr) {
      played_through = false;
      break;
    }
    const long frames = static_cast<long>(bytes / frame_bytes);
    const long taken = as_int16 ? source.int16s(static_cast<int16_t*>(data), frames)
                                : source.floats(static_cast<float*>(data), frames);
    if (taken <= 0) {
      lib->pa_stream_cancel_write(stream_);
      break;
    }
    if (lib->pa_stream_write(stream_, data, static_cast<size_t>(taken) * frame_bytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
      played_through = false;
    }
  }
  if (played_through) {
    // A sound shorter than the start threshold would wait for more.
    pa_operation* started = lib->pa_stream_trigger(stream_, nullptr, nullptr);
    if (started != nullptr) lib->pa_operation_unref(started);
    played_through = WaitForTail(stop);
  }
  if (!played_through) Close();
  return played_through;
}

bool PulseOutput::WaitForTail(int stop) {
  // Bounded, should the server stop playing without saying so.
  const uint64_t deadline = DeadlineAfter(kStallMs);
  while (platform::MonotonicMilliseconds() < deadline) {
    pa_usec_t latency = 0;
    int negative = 0;
    uint64_t wait_ms = 10;  // until the first timing information comes
    if (lib->pa_stream_get_latency(stream_, &latency, &negative) == 0) {
      if (negative != 0 || latency <= kTailUs) return true;
      wait_ms = std::max<uint64_t>((latency - kTailUs) / 1000, 10);
    }
    RunUntil([] { return false; }, std::min(deadline, platform::MonotonicMilliseconds() + wait_ms), stop);
    if (stopped_) return false;
    if (!StreamReady()) return true;
  }
  return true;
}

void PulseOutput::Close() {
  if (stream_ == nullptr) return;
  // The server drops what the stream holds as soon as it hears of it.
  lib->pa_stream_disconnect(stream_);
  lib->pa_stream_unref(stream_);
  stream_ = nullptr;
  if (ContextReady()) RunUntil([this] { return lib->pa_context_is_pending(context_) == 0; }, DeadlineAfter(kSendWaitMs));
}

void PulseOutput::Drain() {
  if (StreamReady()) {
    pa_operation* started = lib->pa_stream_trigger(stream_, nullptr, nullptr);
    if (started != nullptr) lib->pa_operation_unref(started);
    pa_operation* drained = lib->pa_stream_drain(stream_, nullptr, nullptr);
    if (drained != nullptr) {
      RunUntil([&] { return !StreamReady() || lib->pa_operation_get_state(drained) != PA_OPERATION_RUNNING; },
               DeadlineAfter(kStallMs));
      lib->pa_operation_unref(drained);
    }
  }
  Close();
}

// The default sink's volume, each channel set from the side it is on: the
// right ones from the high word, all others from the low one, in the
// server's own scale.
void PulseOutput::SetVolume(uint32_t volume_word) {
  if (!ContextReady() && Connect() != ServerAnswer::kReady) return;
  struct Sink {
    pa_channel_map map{};
    bool found = false;
  } sink;
  const auto found = [](pa_context*, const pa_sink_info* info, int end, void* data) {
    if (end == 0 && info != nullptr) {
      static_cast<Sink*>(data)->map = info->channel_map;
      static_cast<Sink*>(data)->found = true;
    }
  };
  if (!Complete(lib->pa_context_get_sink_info_by_name(context_, "@DEFAULT_SINK@", found, &sink)) || !sink.found) return;
  pa_cvolume volume{};
  volume.channels = sink.map.channels;
  for (uint8_t i = 0; i < volume.channels; ++i) {
    volume.values[i] = OnRightSide(sink.map.map[i]) ? volume_word >> 16 : volume_word & 0xFFFF;
  }
  Complete(lib->pa_context_set_sink_volume_by_name(context_, "@DEFAULT_SINK@", &volume, nullptr, nullptr));
}

}  // namespace

std::unique_ptr<OutputDriver> ConnectPulseOutput(ServerAnswer* answer) {
  *answer = ServerAnswer::kNone;
  if (!ServerMayListen()) return nullptr;
  SilenceLibraries();
  lib = LoadPulseLibrary();
  if (lib == nullptr) return nullptr;
  auto output = std::make_unique<PulseOutput>();
  *answer = output->Connect();
  if (*answer != ServerAnswer::kReady) return nullptr;
  return output;
}
