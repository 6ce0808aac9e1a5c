// The request that makes a playback stream, as each version of the protocol
// reads it.
#include "platform/posix/sound/server/stream_request.h"

#include <vector>

#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/server_address.h"

namespace {

using namespace protocol;

// Channel positions: a WAV file's order, as far as it goes.
constexpr uint8_t kMono = 0;
constexpr uint8_t kWaveOrder[] = {1, 2, 3, 7, 5, 6, 8, 9, 4, 10, 11};  // FL FR FC LFE RL RR FLC FRC RC SL SR
constexpr uint8_t kFirstAux = 12;

std::vector<uint8_t> ChannelPositions(unsigned channels) {
  if (channels == 1) return {kMono};
  std::vector<uint8_t> positions;
  for (unsigned i = 0; i < channels; ++i) {
    positions.push_back(i < std::size(kWaveOrder) ? kWaveOrder[i] : static_cast<uint8_t>(kFirstAux + i));
  }
  return positions;
}

}  // namespace

TagWriter StreamRequest(uint32_t version, uint8_t format, unsigned rate, unsigned channels, const std::string& name,
                        const StreamBuffer& buffer) {
  const uint64_t bytes_per_second = uint64_t{rate} * channels * (format == kSigned16 ? 2 : 4);
  const auto bytes_for = [&](uint64_t us) {
    const uint64_t frames = us * rate / 1000000;
    return static_cast<uint32_t>(frames * (bytes_per_second / rate));
  };
  TagWriter request;
  if (version < 13) request.String(name.c_str());
  request.SampleSpec(format, static_cast<uint8_t>(channels), rate);
  request.ChannelMap(ChannelPositions(channels));
  request.U32(kNoIndex);
  const std::string sink_name = ConfiguredSink();
  request.String(sink_name.empty() ? nullptr : sink_name.c_str());  // the user's sink, else the default one
  request.U32(kUnset);                        // longest queue: the server's
  request.Bool(false);                        // not paused
  request.U32(bytes_for(buffer.length_us));
  request.U32(bytes_for(buffer.start_us));
  request.U32(bytes_for(buffer.request_us));
  request.U32(0);  // no sync group
  // From version 14 on this volume is marked unset and the server picks
  // the stream's own: the one the mixer remembers for the program, else the
  // sink's. Before, it counts, and full leaves the sink's level as it is.
  request.Volume(std::vector<uint32_t>(channels, kFullVolume));
  for (int flag = 0; flag < 7; ++flag) request.Bool(false);  // the server may remap, resample, move
  if (version >= 13) {
    request.Bool(false);  // not muted
    request.Bool(false);  // the buffer as asked
    request.Properties("media.name", name);
  }
  if (version >= 14) {
    request.Bool(false);  // the volume is not set
    request.Bool(false);  // no early requests
  }
  if (version >= 15) {
    request.Bool(false);  // the mute is not set either
    request.Bool(false);  // the stream keeps its sink awake
    request.Bool(false);  // a suspended sink is waited for, not a failure
  }
  if (version >= 17) request.Bool(false);  // no relative volume
  if (version >= 18) request.Bool(false);  // plain samples, no passthrough
  if (version >= 21) request.U8(0);        // no encoded formats: plain samples as described above
  return request;
}
