// Sound on a server that speaks the PulseAudio protocol, every call on the
// sound thread.
#include "platform/posix/sound/server/server_output.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/server/server_settings.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/sound/server/server_stream_request.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

namespace {

using namespace protocol;
using sound_bounds::kPacketBytes;

// The channels /V sets from the high word.
constexpr uint8_t kRightSide[] = {2, 6, 9, 11, 46, 49};  // FR RR FRC SR, top front right, top rear right

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

class ServerOutput final : public OutputDriver, public VolumeControl {
 public:
  explicit ServerOutput(ServerSettings settings) : settings_(std::move(settings)) {}
  ServerAnswer Connect(uint64_t deadline) { return server_.Open(settings_, deadline); }
  void Attach(int socket, uint32_t version) { server_.Attach(socket, version); }
  uint32_t Open(const SoundFormat& format, const Buffering& buffering, const std::string& name,
                uint64_t deadline) override;
  bool TakesInt16() const override { return format_ == kSigned16; }
  Written Write(const void* data, long frames, uint64_t deadline, int stop) override;
  Queued QueuedTime(uint64_t deadline, int stop) override;
  bool Suspended() const override { return server_.StreamSuspended(); }
  void Drop() override;
  void Drain(uint64_t deadline) override;
  void SetVolume(uint32_t volume_word, uint64_t deadline) override;

 private:
  bool StreamOpen() const { return server_.IsOpen() && stream_ != kNoIndex && !server_.StreamLost(); }
  size_t FrameBytes() const { return ::FrameBytes(channels_, format_ == kSigned16); }
  ServerConnection::End CreateStream(uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                                     const Buffering& buffering, const std::string& name, uint64_t deadline,
                                     uint32_t* error);
  ServerConnection::End MakeStream(const TagWriter& request, uint64_t deadline, MadeStream* made, uint32_t* error);
  // The sink a stream of ours plays on: the open stream's, else the one the
  // server gives a new one.
  uint32_t StreamSink(uint64_t deadline);
  // Lets the stream play out and deletes it, keeping the connection.
  void DrainStream(uint64_t deadline);
  // Hangs up: the server drops the stream and what it holds at once.
  void Close();

  const ServerSettings settings_;  // read once per run, for every connection and stream
  ServerConnection server_;
  uint32_t stream_ = kNoIndex;  // the stream's channel
  uint8_t format_ = 0;
  unsigned rate_ = 0;
  unsigned channels_ = 0;
  std::vector<uint8_t> positions_;
  Buffering buffering_;
};

uint32_t ServerOutput::Open(const SoundFormat& sound, const Buffering& buffering, const std::string& name,
                          uint64_t deadline) {
  const unsigned rate = sound.rate;
  const unsigned channels = sound.channels;
  const uint8_t format = sound.int16 ? kSigned16 : kFloat32;
  if (channels == 0 || channels > sound_bounds::kMaxChannels || rate == 0 || rate > sound_bounds::kMaxRate) return kMediaOutputFormat;
  const std::vector<uint8_t> positions = ChannelPositions(sound);
  if (StreamOpen() && format == format_ && rate == rate_ && positions == positions_ && buffering == buffering_) {
    return 0;
  }
  // The connection the driver was chosen on carries every stream of the
  // run: one handshake, however many sounds.
  if (StreamOpen()) DrainStream(deadline);
  // A stream the server killed is forgotten; its connection carries on.
  stream_ = kNoIndex;
  server_.Follow(kNoIndex, 0, false, kNoIndex);
  if (!server_.IsOpen() && Connect(deadline) != ServerAnswer::kReady) return kMediaNoOutput;
  uint32_t error = 0;
  ServerConnection::End end = CreateStream(format, rate, positions, buffering, name, deadline, &error);
  // A server that went away since may be back.
  if (end == ServerConnection::End::kLost) {
    Close();
    if (Connect(deadline) != ServerAnswer::kReady) return kMediaNoOutput;
    end = CreateStream(format, rate, positions, buffering, name, deadline, &error);
  }
  if (end == ServerConnection::End::kDone) return 0;
  if (end != ServerConnection::End::kRefused) Close();
  return end == ServerConnection::End::kRefused ? CodeForServerError(error) : kMediaNoOutput;
}

ServerConnection::End ServerOutput::CreateStream(uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                                                const Buffering& buffering, const std::string& name,
                                                uint64_t deadline, uint32_t* error) {
  MadeStream made;
  const ServerConnection::End end =
      MakeStream(StreamRequest(server_.Version(), format, rate, positions, name, settings_.sink, buffering), deadline,
                 &made, error);
  if (end != ServerConnection::End::kDone) return end;
  server_.Follow(made.channel, made.requested, made.suspended, made.sink);
  stream_ = made.channel;
  format_ = format;
  rate_ = rate;
  channels_ = static_cast<unsigned>(positions.size());
  positions_ = positions;
  buffering_ = buffering;
  return end;
}

ServerConnection::End ServerOutput::MakeStream(const TagWriter& request, uint64_t deadline, MadeStream* made,
                                              uint32_t* error) {
  const uint32_t version = server_.Version();
  std::string reply;
  ServerConnection::End end = server_.Call(kCreatePlaybackStream, request, deadline, -1, &reply, error);
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
      !values.Bool(&made->suspended) || (version >= 13 && !values.U64(kTagUsec, &sink_latency))) {
    // A reply this client cannot read: the server is not one it can play on.
    Close();
    return ServerConnection::End::kTimedOut;
  }
  return end;
}

// Waits while the server asks for no whole frame; sends as much as it asks
// for, in packets of a bounded size. With nothing to send, a request is no
// news: only a change of state, the deadline or a stop ends the wait.
Written ServerOutput::Write(const void* data, long frames, uint64_t deadline, int stop) {
  using End = ServerConnection::End;
  const size_t frame_bytes = FrameBytes();
  if (!StreamOpen() || frame_bytes == 0) return {Outcome::kFailed, 0};
  if (frames == 0 || server_.Requested() < frame_bytes) {
    const bool suspended = server_.StreamSuspended();
    End end = server_.Wait(deadline, stop);
    while (frames == 0 && end == End::kDone && server_.StreamSuspended() == suspended) end = server_.Wait(deadline, stop);
    if (end == End::kStopped) return {Outcome::kStopped, 0};
    return {end == End::kDone || end == End::kTimedOut ? Outcome::kDone : Outcome::kFailed, 0};
  }
  const size_t taken = std::min({server_.Requested(), kPacketBytes, static_cast<size_t>(frames) * frame_bytes});
  const size_t size = taken / frame_bytes * frame_bytes;
  const End sent = server_.Send(stream_, static_cast<const char*>(data), size, deadline, stop);
  server_.Took(size);
  if (sent == End::kStopped) return {Outcome::kStopped, 0};
  return {sent == End::kDone ? Outcome::kDone : Outcome::kFailed, static_cast<long>(size / frame_bytes)};
}

// Asks the server how much of the stream is still to be heard. A server that
// refuses to say, or says what this client cannot read, leaves it to the
// clock.
Queued ServerOutput::QueuedTime(uint64_t deadline, int stop) {
  using End = ServerConnection::End;
  if (!StreamOpen()) return {Outcome::kFailed, false, 0};
  TagWriter request;
  request.U32(stream_);
  request.Timeval(ClockMilliseconds() * 1000);
  std::string reply;
  const End end = server_.Call(kGetPlaybackLatency, request, deadline, stop, &reply);
  if (end == End::kStopped) return {Outcome::kStopped, false, 0};
  if (end == End::kRefused) return {Outcome::kDone, false, 0};
  if (end != End::kDone) return {Outcome::kFailed, false, 0};
  TagReader values(reply);
  uint64_t sink_us = 0;
  uint64_t source_us = 0;
  bool playing = false;
  uint64_t written = 0;
  uint64_t read = 0;
  if (!values.U64(kTagUsec, &sink_us) || !values.U64(kTagUsec, &source_us) || !values.Bool(&playing) ||
      !values.Timeval() || !values.Timeval() || !values.U64(kTagS64, &written) || !values.U64(kTagS64, &read)) {
    return {Outcome::kDone, false, 0};
  }
  const uint64_t bytes_per_second = uint64_t{rate_} * FrameBytes();
  const int64_t queued = static_cast<int64_t>(written - read);
  return {Outcome::kDone, true,
          sink_us + (queued > 0 ? static_cast<uint64_t>(queued) * 1000000 / bytes_per_second : 0)};
}

void ServerOutput::Close() {
  server_.Close();
  stream_ = kNoIndex;
}

// A stream the server killed is gone, and the connection still good for the
// next one; otherwise the connection is hung up, which silences the stream
// at once.
void ServerOutput::Drop() {
  if (server_.IsOpen() && server_.StreamLost()) {
    stream_ = kNoIndex;
  } else {
    Close();
  }
}

void ServerOutput::Drain(uint64_t deadline) {
  if (StreamOpen()) DrainStream(deadline);
  Close();
}

void ServerOutput::DrainStream(uint64_t deadline) {
  TagWriter request;
  request.U32(stream_);
  std::string reply;
  const ServerConnection::End drained = server_.Call(kDrainPlaybackStream, request, deadline, -1, &reply);
  const ServerConnection::End deleted =
      drained == ServerConnection::End::kDone || drained == ServerConnection::End::kRefused
          ? server_.Call(kDeletePlaybackStream, request, deadline, -1, &reply)
          : drained;
  stream_ = kNoIndex;
  // A server that did not answer is not asked again on this connection.
  if (deleted != ServerConnection::End::kDone && deleted != ServerConnection::End::kRefused) Close();
}

uint32_t ServerOutput::StreamSink(uint64_t deadline) {
  if (StreamOpen()) return server_.StreamSink();
  // Where the next stream would play is the server's to say (the sink the
  // user named, else the route it remembers for the program, else its
  // default), and it says so only for a stream: one is made corked, so
  // that it plays nothing, and deleted again.
  MadeStream made;
  const std::vector<uint8_t> stereo = {1, 2};
  const Buffering buffering = BufferingFor(SoundFormat{44100, 2, true, {}, 0}, false);
  if (MakeStream(StreamRequest(server_.Version(), kSigned16, 44100, stereo, "PELDO", settings_.sink, buffering, true),
                 deadline, &made, nullptr) != ServerConnection::End::kDone) {
    return kNoIndex;
  }
  TagWriter request;
  request.U32(made.channel);
  std::string reply;
  server_.Call(kDeletePlaybackStream, request, deadline, -1, &reply);
  return made.sink;
}

// The volume of the sink a stream of ours plays on, each channel set from
// the side it is on: the right ones from the high word, all others from the
// low one, in the server's own scale. A sink the server does not say is
// taken by name: the one the user named, else the default.
void ServerOutput::SetVolume(uint32_t volume_word, uint64_t deadline) {
  if (!server_.IsOpen() && Connect(deadline) != ServerAnswer::kReady) return;
  const uint32_t stream_sink = StreamSink(deadline);
  if (!server_.IsOpen()) return;
  const std::string& configured = settings_.sink;
  TagWriter sink;
  sink.U32(stream_sink);
  sink.String(stream_sink != kNoIndex ? nullptr : configured.empty() ? "@DEFAULT_SINK@" : configured.c_str());
  std::string reply;
  if (server_.Call(kGetSinkInfo, sink, deadline, -1, &reply) != ServerConnection::End::kDone) {
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
  server_.Call(kSetSinkVolume, request, deadline, -1, &reply);
}

}  // namespace

ServerSettings ReadServerSettings() {
  const ClientConfig config = ReadClientConfig();
  const std::string machine = MachineId();
  return {ServerSocketPaths(config, machine), ServerCookie(config), ConfiguredSink(config),
          ClientProperties(machine)};
}

std::unique_ptr<OutputDriver> ConnectServerOutput(const ServerSettings& settings, uint64_t deadline,
                                                ServerAnswer* answer, VolumeControl** volume) {
  auto output = std::make_unique<ServerOutput>(settings);
  *answer = output->Connect(deadline);
  if (*answer != ServerAnswer::kReady) return nullptr;
  *volume = output.get();
  return output;
}

std::unique_ptr<OutputDriver> AttachServerOutput(int socket, uint32_t version, VolumeControl** volume,
                                               ServerSettings settings) {
  auto output = std::make_unique<ServerOutput>(std::move(settings));
  output->Attach(socket, version);
  *volume = output.get();
  return output;
}
