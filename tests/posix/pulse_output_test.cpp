// The sound server driver on a scripted server: the answers it turns into
// the program's error codes, a stall, and a suspended sink.
#include "platform/posix/sound/server/pulse_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/sound/media_errors.h"
#include "posix/scripted_server.h"

namespace {

struct DriverCase {
  const char* why;
  std::vector<Step> script;  // after the program is let in
  uint32_t prepared;
  bool played;
  int at_least_ms, at_most_ms;  // how long the feed takes
};

// The driver on a scripted server: the stream refused with the protocol's
// codes, made and then asked for a byte a second, made on a suspended sink.
TEST(PulseOutputTest, AnswersAsTheServerDoes) {
  const auto refused = [](uint32_t code) {
    TagWriter values;
    values.U32(code);
    return std::vector<Step>{{Step::kRead}, {Step::kSend, Packet(protocol::kError, 2, values)}};
  };
  const auto made = [](bool suspended, std::vector<Step> rest) {  // stream 0, 44100 Hz stereo, nothing asked yet
    TagWriter values;
    for (const uint32_t word : {0u, 0u, 0u, 176400u, 176400u, 1764u, 44100u}) values.U32(word);
    values.SampleSpec(3, 2, 44100);
    values.ChannelMap({1, 2});
    values.U32(0);
    values.String("sink");
    values.Bool(suspended);
    values.Usec(0);
    rest.insert(rest.begin(), {{Step::kRead}, {Step::kSend, Packet(protocol::kReply, 2, values)}});
    return rest;
  };
  TagWriter one_byte, resumed, more;  // stream 0: asked for a byte; resumed; asked for 200 frames
  for (const uint32_t word : {0u, 1u}) one_byte.U32(word);
  for (const uint32_t word : {0u, 800u}) more.U32(word);
  resumed.U32(0);
  resumed.Bool(false);
  const DriverCase cases[] = {
      {"invalid settings", refused(3), kMediaOutputFormat, false, 0, 0},
      {"a version the server does not speak", refused(17), kMediaNoOutput, false, 0, 0},
      {"settings the server does not support", refused(19), kMediaOutputFormat, false, 0, 0},
      {"a busy server", refused(26), kMediaOutputBusy, false, 0, 0},
      {"a byte a second (a frame in 4 s) is a stall",
       made(false, {{Step::kRepeat, Packet(61, UINT32_MAX, one_byte), 1000}}), 0, false, 2400, 3400},
      {"a suspended sink is waited through",
       made(true, {{Step::kPause, "", 3000}, {Step::kSend, Packet(76, UINT32_MAX, resumed) + Packet(61, UINT32_MAX, more)},
                   {Step::kRead}, {Step::kRead}, {Step::kSend, Packet(protocol::kReply, 3)}}),
       0, true, 2900, 4500},
  };
  for (const DriverCase& row : cases) {
    ScriptedServer server(LetIn(row.script));
    ServerAnswer answer = ServerAnswer::kNone;
    std::unique_ptr<OutputDriver> output = ConnectPulseOutput(&answer);
    ASSERT_NE(output, nullptr) << row.why;
    EXPECT_EQ(output->Prepare(SoundFormat{44100, 2, true, {}, 0}, "tone"), row.prepared) << row.why;
    if (row.prepared != 0) continue;
    long left = 100;  // frames, whatever they hold
    FrameSource source;
    source.int16s = [&left](int16_t*, long frames) {
      frames = std::min(left, frames);
      left -= frames;
      return frames;
    };
    const uint64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(output->Feed(source, -1), row.played) << row.why;
    const uint64_t took = platform::MonotonicMilliseconds() - start;
    EXPECT_GE(took, static_cast<uint64_t>(row.at_least_ms)) << row.why;
    EXPECT_LE(took, static_cast<uint64_t>(row.at_most_ms)) << row.why;
  }
}

}  // namespace
