// Sound on a server that speaks the PulseAudio protocol, every call on the
// sound thread.
#include "platform/posix/sound/server/pulse_output.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/server_address.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/sound/server/stream_request.h"
#include "platform/posix/waits.h"

namespace {

using namespace protocol;

// The channels /V sets from the high word.
constexpr uint8_t kRightSide[] = {2, 6, 9, 11, 46, 49};  // FR RR FRC SR, top front right, top rear right

// A server that says nothing for this long counts as no output, as a device
// that does not open does.
constexpr int kAnswerWaitMs = 5000;
// The server holds up to a second of sound and asks for a quarter at a time:
// few wake-ups. It starts playing once 10 ms are there, so the first sound
// comes at once; after an underrun it waits for as much again.
constexpr uint64_t kBufferUs = 1000000;
constexpr uint64_t kRequestUs = 250000;
constexpr uint64_t kStartUs = 10000;
// The end of a sound is announced when this much of it is left to play: time
// enough for the next sound to be queued behind it without a gap.
constexpr uint64_t kTailUs = 100000;
// A server that asks for no whole frame for this long while its sink runs
// has hung: the sound ends, as it would on a device that stopped. A
// suspended sink is waited through for as long as it stays so.
constexpr int kStallMs = static_cast<int>(kBufferUs / 1000) * 2 + 500;
constexpr uint64_t kNoDeadline = UINT64_MAX;
// Samples are sent in packets of at most this many bytes.
constexpr size_t kPacketBytes = 65536;

// What a server's refusal of a stream means to the user: the sound's
// settings refused, the output taken, or no output to be had (no such
// sink, no access, a version it does not speak, anything else).
uint32_t CodeForServerError(uint32_t error) {
  switch (error) {
    case kErrorInvalid:
    case kErrorNotSupported:
    case kErrorTooLarge:
      return kMediaOutputFormat;
    case kErrorBusy:
      return kMediaOutputBusy;
    default:
      return kMediaNoOutput;
  }
}

// What the server says of a stream it made: its channel, what it asks for
// first, whether its sink is suspended, and which sink that is.
struct MadeStream {
  uint32_t channel = kNoIndex;
  uint32_t requested = 0;
  bool suspended = false;
  uint32_t sink = kNoIndex;
};

class PulseOutput final : public OutputDriver {
 public:
  ServerConnection::Opened Connect() { return server_.Open(DeadlineAfter(kAnswerWaitMs)); }
  void Attach(int socket, uint32_t version) { server_.Attach(socket, version); }
  uint32_t Prepare(const SoundFormat& format, const std::string& name) override;
  bool Feed(const FrameSource& source, int stop) override;
  void Close() override;
  void Drain() override;
  void SetVolume(uint32_t volume_word) override;

 private:
  bool StreamOpen() const { return server_.IsOpen() && stream_ != kNoIndex && !server_.StreamLost(); }
  ServerConnection::End CreateStream(uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                                     const std::string& name, uint32_t* error);
  ServerConnection::End MakeStream(const TagWriter& request, MadeStream* made, uint32_t* error);
  // The sink a stream of ours plays on: the open stream's, else the one the
  // server gives a new one.
  uint32_t StreamSink();
  // Lets the stream play out and deletes it, keeping the connection.
  void DrainStream();
  bool WaitForTail(int stop);

  ServerConnection server_;
  uint32_t stream_ = kNoIndex;  // the stream's channel
  uint8_t format_ = 0;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  std::vector<uint8_t> positions_;
  // Read from the source, floats or 16-bit; left uninitialised, as every
  // sample sent is written first.
  std::unique_ptr<float[]> samples_;
};

uint32_t PulseOutput::Prepare(const SoundFormat& sound, const std::string& name) {
  const unsigned rate = sound.rate;
  const unsigned channels = sound.channels;
  const uint8_t format = sound.int16 ? kSigned16 : kFloat32;
  if (channels == 0 || channels > 32 || rate == 0 || rate > 384000) return kMediaOutputFormat;
  const std::vector<uint8_t> positions = ChannelPositions(sound);
  if (StreamOpen() && format == format_ && rate == rate_ && positions == positions_) return 0;
  // The connection the driver was chosen on carries every stream of the
  // run: one handshake, however many sounds.
  if (StreamOpen()) DrainStream();
  // A stream the server killed is forgotten; its connection carries on.
  stream_ = kNoIndex;
  server_.Follow(kNoIndex, 0, false, kNoIndex);
  if (!server_.IsOpen() && Connect() != ServerConnection::Opened::kReady) return kMediaNoOutput;
  uint32_t error = 0;
  ServerConnection::End end = CreateStream(format, rate, positions, name, &error);
  // A server that went away since may be back.
  if (end == ServerConnection::End::kLost) {
    Close();
    if (Connect() != ServerConnection::Opened::kReady) return kMediaNoOutput;
    end = CreateStream(format, rate, positions, name, &error);
  }
  if (end == ServerConnection::End::kDone) return 0;
  if (end != ServerConnection::End::kRefused) Close();
  return end == ServerConnection::End::kRefused ? CodeForServerError(error) : kMediaNoOutput;
}

ServerConnection::End PulseOutput::CreateStream(uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                                                const std::string& name, uint32_t* error) {
  MadeStream made;
  const ServerConnection::End end = MakeStream(
      StreamRequest(server_.Version(), format, rate, positions, name, {kBufferUs, kStartUs, kRequestUs}), &made, error);
  if (end != ServerConnection::End::kDone) return end;
  server_.Follow(made.channel, made.requested, made.suspended, made.sink);
  stream_ = made.channel;
  format_ = format;
  rate_ = rate;
  channels_ = static_cast<unsigned>(positions.size());
  positions_ = positions;
  return end;
}

ServerConnection::End PulseOutput::MakeStream(const TagWriter& request, MadeStream* made, uint32_t* error) {
  const uint32_t version = server_.Version();
  std::string reply;
  ServerConnection::End end =
      server_.Call(kCreatePlaybackStream, request, DeadlineAfter(kAnswerWaitMs), -1, &reply, error);
  if (end != ServerConnection::End::kDone) return end;
  // The stream's channel, its sink input, what the server asks for first,
  // the buffer it granted, the sample format and channel map it took, and
  // the sink it plays on: whether that is suspended; from version 13 the
  // sink's latency as configured, from 21 the format it took (plain
  // samples, as no other was offered), neither needed here.
  TagReader values(reply);
  uint32_t sink_input = 0;
  uint32_t granted[4] = {};
  uint64_t sink_latency = 0;
  if (!values.U32(&made->channel) || !values.U32(&sink_input) || !values.U32(&made->requested) ||
      !values.U32(&granted[0]) || !values.U32(&granted[1]) || !values.U32(&granted[2]) || !values.U32(&granted[3]) ||
      !values.SampleFormat() || !values.ChannelMap(nullptr) || !values.U32(&made->sink) || !values.String() ||
      !values.Bool(&made->suspended) || (version >= 13 && !values.U64('U', &sink_latency))) {
    // A reply this client cannot read: the server is not one it can play on.
    Close();
    return ServerConnection::End::kTimedOut;
  }
  return end;
}

bool PulseOutput::Feed(const FrameSource& source, int stop) {
  const size_t frame_bytes = channels_ * (format_ == kSigned16 ? 2u : 4u);
  const bool as_int16 = format_ == kSigned16;
  bool played_through = StreamOpen() && frame_bytes != 0 && (as_int16 ? bool(source.int16s) : bool(source.floats));
  if (played_through && samples_ == nullptr) samples_.reset(new float[kPacketBytes / sizeof(float)]);
  // Only whole frames asked for count as the server taking sound: a server
  // that asks for a byte at a time stalls as one that asks for nothing.
  uint64_t stall_deadline = DeadlineAfter(kStallMs);
  while (played_through) {
    if (server_.Requested() < frame_bytes) {
      const bool suspended = server_.StreamSuspended();
      played_through = server_.Wait(suspended ? kNoDeadline : stall_deadline, stop) == ServerConnection::End::kDone;
      // Time spent suspended is no stall.
      if (suspended) stall_deadline = DeadlineAfter(kStallMs);
      continue;
    }
    const long frames = static_cast<long>(std::min(server_.Requested(), kPacketBytes) / frame_bytes);
    const long taken = as_int16 ? source.int16s(reinterpret_cast<int16_t*>(samples_.get()), frames)
                                : source.floats(samples_.get(), frames);
    if (taken <= 0) break;
    const size_t size = static_cast<size_t>(taken) * frame_bytes;
    played_through = server_.Send(stream_, reinterpret_cast<const char*>(samples_.get()), size,
                                  DeadlineAfter(kStallMs), stop) == ServerConnection::End::kDone;
    server_.Took(size);
    stall_deadline = DeadlineAfter(kStallMs);
  }
  if (played_through) played_through = WaitForTail(stop);
  // A stream the server killed is gone, and the connection still good for
  // the next one; any other cut hangs up, which silences the stream at once.
  if (!played_through && server_.IsOpen() && server_.StreamLost()) {
    stream_ = kNoIndex;
  } else if (!played_through) {
    Close();
  }
  return played_through;
}

// Asks the server how much of the stream is still to be heard, and waits
// until no more than the tail is left.
bool PulseOutput::WaitForTail(int stop) {
  uint64_t deadline = DeadlineAfter(kStallMs);
  const uint64_t bytes_per_second = uint64_t{rate_} * channels_ * (format_ == kSigned16 ? 2 : 4);
  while (platform::MonotonicMilliseconds() < deadline) {
    // A suspended sink plays nothing: its tail waits for the resume.
    if (server_.StreamSuspended()) {
      const ServerConnection::End end = server_.Wait(kNoDeadline, stop);
      if (end == ServerConnection::End::kStopped) return false;
      if (end == ServerConnection::End::kLost) return true;
      deadline = DeadlineAfter(kStallMs);
      continue;
    }
    TagWriter request;
    request.U32(stream_);
    request.Timeval(platform::MonotonicMilliseconds() * 1000);
    std::string reply;
    if (server_.Call(kGetPlaybackLatency, request, deadline, stop, &reply) != ServerConnection::End::kDone) {
      return false;
    }
    TagReader values(reply);
    uint64_t sink_us = 0;
    uint64_t source_us = 0;
    bool playing = false;
    uint64_t written = 0;
    uint64_t read = 0;
    if (!values.U64('U', &sink_us) || !values.U64('U', &source_us) || !values.Bool(&playing) ||
        !values.Timeval() || !values.Timeval() || !values.U64('r', &written) || !values.U64('r', &read)) {
      return true;
    }
    const int64_t queued = static_cast<int64_t>(written - read);
    const uint64_t left_us = sink_us + (queued > 0 ? static_cast<uint64_t>(queued) * 1000000 / bytes_per_second : 0);
    if (left_us <= kTailUs) return true;
    const ServerConnection::End end = server_.Wait(
        std::min(deadline, platform::MonotonicMilliseconds() + std::max<uint64_t>((left_us - kTailUs) / 1000, 10)), stop);
    if (end == ServerConnection::End::kStopped) return false;
    if (end == ServerConnection::End::kLost) return true;
  }
  return true;
}

void PulseOutput::Close() {
  server_.Close();
  stream_ = kNoIndex;
}

void PulseOutput::Drain() {
  if (StreamOpen()) DrainStream();
  Close();
}

void PulseOutput::DrainStream() {
  TagWriter request;
  request.U32(stream_);
  std::string reply;
  const ServerConnection::End drained =
      server_.Call(kDrainPlaybackStream, request, DeadlineAfter(kStallMs), -1, &reply);
  const ServerConnection::End deleted =
      drained == ServerConnection::End::kDone || drained == ServerConnection::End::kRefused
          ? server_.Call(kDeletePlaybackStream, request, DeadlineAfter(kAnswerWaitMs), -1, &reply)
          : drained;
  stream_ = kNoIndex;
  // A server that did not answer is not asked again on this connection.
  if (deleted != ServerConnection::End::kDone && deleted != ServerConnection::End::kRefused) Close();
}

uint32_t PulseOutput::StreamSink() {
  if (StreamOpen()) return server_.StreamSink();
  // Where the next stream would play is the server's to say (the sink the
  // user named, else the route it remembers for the program, else its
  // default), and it says so only for a stream: one is made corked, so
  // that it plays nothing, and deleted again.
  MadeStream made;
  const std::vector<uint8_t> stereo = {1, 2};
  if (MakeStream(StreamRequest(server_.Version(), kSigned16, 44100, stereo, "PELDO", {kBufferUs, kStartUs, kRequestUs},
                               true),
                 &made, nullptr) != ServerConnection::End::kDone) {
    return kNoIndex;
  }
  TagWriter request;
  request.U32(made.channel);
  std::string reply;
  server_.Call(kDeletePlaybackStream, request, DeadlineAfter(kAnswerWaitMs), -1, &reply);
  return made.sink;
}

// The volume of the sink a stream of ours plays on, each channel set from
// the side it is on: the right ones from the high word, all others from the
// low one, in the server's own scale. A sink the server does not say is
// taken by name: the one the user named, else the default.
void PulseOutput::SetVolume(uint32_t volume_word) {
  if (!server_.IsOpen() && Connect() != ServerConnection::Opened::kReady) return;
  const uint32_t stream_sink = StreamSink();
  if (!server_.IsOpen()) return;
  const std::string configured = ConfiguredSink();
  TagWriter sink;
  sink.U32(stream_sink);
  sink.String(stream_sink != kNoIndex ? nullptr : configured.empty() ? "@DEFAULT_SINK@" : configured.c_str());
  std::string reply;
  if (server_.Call(kGetSinkInfo, sink, DeadlineAfter(kAnswerWaitMs), -1, &reply) != ServerConnection::End::kDone) {
    return;
  }
  TagReader values(reply);
  uint32_t index = 0;
  std::vector<uint8_t> positions;
  if (!values.U32(&index) || !values.String() || !values.String() || !values.SampleFormat() ||
      !values.ChannelMap(&positions)) {
    return;
  }
  std::vector<uint32_t> volume;
  for (const uint8_t position : positions) {
    const bool right = std::find(std::begin(kRightSide), std::end(kRightSide), position) != std::end(kRightSide);
    volume.push_back(right ? volume_word >> 16 : volume_word & 0xFFFF);
  }
  TagWriter request;
  request.U32(index);
  request.String(nullptr);
  request.Volume(volume);
  server_.Call(kSetSinkVolume, request, DeadlineAfter(kAnswerWaitMs), -1, &reply);
}

}  // namespace

std::unique_ptr<OutputDriver> ConnectPulseOutput(ServerAnswer* answer) {
  auto output = std::make_unique<PulseOutput>();
  switch (output->Connect()) {
    case ServerConnection::Opened::kReady:
      *answer = ServerAnswer::kReady;
      return output;
    case ServerConnection::Opened::kSilent:
      *answer = ServerAnswer::kSilent;
      return nullptr;
    case ServerConnection::Opened::kRefused:
      *answer = ServerAnswer::kRefused;
      return nullptr;
    case ServerConnection::Opened::kNone:
      break;
  }
  *answer = ServerAnswer::kNone;
  return nullptr;
}

std::unique_ptr<OutputDriver> AttachPulseOutput(int socket, uint32_t version) {
  auto output = std::make_unique<PulseOutput>();
  output->Attach(socket, version);
  return output;
}
