// The request that makes a playback stream, as each version of the protocol
// reads it.
#include "platform/posix/sound/server/server_stream_request.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "platform/posix/sound/server/server_protocol.h"

namespace {

using namespace protocol;

// What each of libsndfile's speakers is on the server, by its number (0
// is none); ambisonic channels have no place.
constexpr uint8_t kNoPosition = 0xFF;
constexpr uint8_t kFileSpeakers[] = {
    kNoPosition, kMono, kFrontLeft, kFrontRight, kFrontCenter,      // none, mono, left, right, centre
    kFrontLeft, kFrontRight, kFrontCenter, kRearCenter, kRearLeft,  // front left to rear left
    kRearRight, kLfe, kFrontLeftOfCenter, kFrontRightOfCenter, kSideLeft, kSideRight, kTopCenter,
    kTopFrontLeft, kTopFrontRight, kTopFrontCenter, kTopRearLeft, kTopRearRight, kTopRearCenter};
// The library's default layouts, by count; past six, six and auxiliaries.
constexpr uint8_t kDefaultLayouts[][6] = {
    {kMono},
    {kFrontLeft, kFrontRight},
    {kFrontLeft, kFrontRight, kFrontCenter},
    {kFrontLeft, kFrontCenter, kFrontRight, kRearCenter},
    {kFrontLeft, kFrontRight, kFrontCenter, kRearLeft, kRearRight},
    {kFrontLeft, kFrontLeftOfCenter, kFrontCenter, kFrontRight, kFrontRightOfCenter, kRearCenter}};

}  // namespace

std::vector<uint8_t> ChannelPositions(const SoundFormat& format) {
  std::vector<uint8_t> positions;
  for (const int speaker : format.channel_map) {
    const bool known = speaker > 0 && static_cast<size_t>(speaker) < std::size(kFileSpeakers);
    if (!known || format.channel_map.size() != format.channels) break;
    positions.push_back(kFileSpeakers[speaker]);
  }
  if (!positions.empty() && positions.size() == format.channels) return positions;
  positions.clear();
  const size_t named = std::min<size_t>(format.channels, std::size(kDefaultLayouts));
  for (size_t i = 0; i < format.channels; ++i) {
    positions.push_back(i < named ? kDefaultLayouts[named - 1][i] : static_cast<uint8_t>(kFirstAux + i - named));
  }
  return positions;
}

TagWriter StreamRequest(uint32_t version, uint8_t format, unsigned rate, const std::vector<uint8_t>& positions,
                        const std::string& name, const std::string& sink, const Buffering& buffering,
                        bool corked) {
  const auto channels = static_cast<unsigned>(positions.size());
  const auto bytes_for = [&](uint64_t us) {
    return static_cast<uint32_t>(us * rate / 1000000 * FrameBytes(channels, format == kSigned16));
  };
  TagWriter request;
  if (version < 13) request.String(name.c_str());
  request.SampleFormat(format, static_cast<uint8_t>(channels), rate);
  request.ChannelMap(positions);
  request.U32(kNoIndex);
  request.String(sink.empty() ? nullptr : sink.c_str());  // the user's sink, else the default one
  request.U32(kUnset);                        // longest queue: the server's
  request.Bool(corked);
  request.U32(bytes_for(buffering.buffer_us));
  request.U32(bytes_for(buffering.start_us));
  request.U32(bytes_for(buffering.period_us));
  request.U32(0);  // no sync group
  // From version 14 on this volume is marked unset and the server picks
  // the stream's own: the one the mixer remembers for the program, else the
  // sink's. Before, it counts, and full leaves the sink's level as it is.
  request.Volume(std::vector<uint32_t>(channels, kFullVolume));
  for (int flag = 0; flag < 7; ++flag) request.Bool(false);  // the server may remap, resample, move
  if (version >= 13) {
    request.Bool(false);  // not muted
    request.Bool(false);  // the buffer as asked
    request.Properties({{"media.name", name + '\0'}});
  }
  if (version >= 14) {
    request.Bool(false);  // the volume is not set
    // Early requests: the server runs its cycle by the request size, so a
    // short sound queued whole in a long buffer still starts at a short one.
    request.Bool(true);
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
