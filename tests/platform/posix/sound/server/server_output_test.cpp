// The sound server driver on a scripted server: the answers it turns into
// the program's error codes, a stall, a suspended sink, a refused latency
// query and a refused login;
// where it puts each channel of a file, and the sink volume it sets.
#include "platform/posix/sound/server/server_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>

#include "platform/platform.h"
#include "platform/posix/sound/feed.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/output.h"
#include "platform/posix/sound/server/server_stream_request.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/waits.h"
#include "scripted_server.h"

namespace {

// A message of 32-bit values; with a code alone, a refusal's.
TagWriter Words(std::initializer_list<uint32_t> words) {
  TagWriter values;
  for (const uint32_t word : words) values.U32(word);
  return values;
}

struct DriverCase {
  const char* why;
  std::vector<Step> script;  // after the program is let in
  uint32_t prepared;
  bool played;
  int at_least_ms, at_most_ms;  // how long the feed takes
  long frames = 100;             // of the sound, 44100 a second
};

// The driver on a scripted server: the stream refused with the protocol's
// codes, made and then asked for a byte a second, made on a suspended sink,
// asked for the whole sound and then refusing to say what it still holds.
TEST(ServerOutputTest, AnswersAsTheServerDoes) {
  const auto refused = [](uint32_t code) {
    return std::vector<Step>{{Step::kRead}, {Step::kSend, Packet(protocol::kError, 2, Words({code}))}};
  };
  const auto made = [](bool suspended, std::vector<Step> rest) {  // stream 0, 44100 Hz stereo, nothing asked yet
    TagWriter values = Words({0, 0, 0, 176400, 176400, 1764, 44100});
    values.SampleFormat(3, 2, 44100);
    values.ChannelMap({1, 2});
    values.U32(0);
    values.String("sink");
    values.Bool(suspended);
    values.Usec(0);
    rest.insert(rest.begin(), {{Step::kRead}, {Step::kSend, Packet(protocol::kReply, 2, values)}});
    return rest;
  };
  // Stream 0 asked for a byte; for 200 frames; for 0.5 s; resumed.
  const TagWriter one_byte = Words({0, 1}), more = Words({0, 800}), whole = Words({0, 88200});
  TagWriter resumed = Words({0});
  resumed.Bool(false);
  const DriverCase cases[] = {
      {"invalid settings", refused(protocol::kErrorInvalid), kMediaOutputFormat, false, 0, 0},
      {"a version the server does not speak", refused(protocol::kErrorVersion), kMediaNoOutput, false, 0, 0},
      {"settings the server does not support", refused(protocol::kErrorNotSupported), kMediaOutputFormat, false, 0, 0},
      {"a busy server", refused(protocol::kErrorBusy), kMediaOutputBusy, false, 0, 0},
      {"a byte a second (a frame in 4 s) is a stall",
       made(false, {{Step::kRepeat, Packet(protocol::kRequest, UINT32_MAX, one_byte), 1000}}), 0, false, 2400, 3400},
      {"a suspended sink is waited through",
       made(true, {{Step::kPause, "", 3000}, {Step::kSend, Packet(protocol::kPlaybackStreamSuspended, UINT32_MAX, resumed) + Packet(protocol::kRequest, UINT32_MAX, more)},
                   {Step::kRead}, {Step::kRead}, {Step::kSend, Packet(protocol::kReply, 3)}}),
       0, true, 2900, 4500},
      {"a refused latency query leaves the tail to the clock: 0.5 s less the last 0.1 s",
       made(false, {{Step::kSend, Packet(protocol::kRequest, UINT32_MAX, whole)}, {Step::kRead}, {Step::kRead}, {Step::kRead},
                    {Step::kSend, Packet(protocol::kError, 3, Words({protocol::kErrorNotSupported}))}}),
       0, true, 350, 1000, 22050},
  };
  for (const DriverCase& row : cases) {
    ScriptedServer server(LetIn(row.script));
    ServerAnswer answer = ServerAnswer::kNone;
    VolumeControl* volume = nullptr;
    std::unique_ptr<OutputDriver> output = ConnectServerOutput(ReadServerSettings(), DeadlineAfter(5000), &answer, &volume);
    ASSERT_NE(output, nullptr) << row.why;
    const SoundFormat format{44100, 2, true, {}, 0};
    EXPECT_EQ(output->Open(format, BufferingFor(format, true), "tone", DeadlineAfter(5000)), row.prepared) << row.why;
    if (row.prepared != 0) continue;
    long left = row.frames;  // whatever they hold
    FrameSource source;
    source.int16s = [&left](int16_t*, long frames) {
      frames = std::min(left, frames);
      left -= frames;
      return frames;
    };
    const uint64_t start = platform::MonotonicMilliseconds();
    FeedLoop loop;
    EXPECT_EQ(loop.Play(*output, format, source, -1), row.played) << row.why;
    const uint64_t took = platform::MonotonicMilliseconds() - start;
    EXPECT_GE(took, static_cast<uint64_t>(row.at_least_ms)) << row.why;
    EXPECT_LE(took, static_cast<uint64_t>(row.at_most_ms)) << row.why;
    // Played through, the stream carries on: no new handshake for the next sound.
    if (row.played) {
      EXPECT_EQ(output->Open(format, BufferingFor(format, true), "tone", DeadlineAfter(1000)), 0u) << row.why;
    }
  }
}

// A server that refuses the program access has its own line where no
// other output plays; where ALSA plays instead, nothing is said.
TEST(ServerOutputTest, AccessRefusedIsSaidOnlyWhereNothingElsePlays) {
  const struct {
    const char* why;
    const char* alsa_config;
    uint32_t error;
  } cases[] = {
      {"ALSA has no device either", "", kMediaServerRefused},
      {"ALSA plays instead", "pcm.!default { type null }\n", 0},
  };
  static std::vector<SoundOutput*> outputs;  // never destroyed, as in the player
  for (const auto& row : cases) {
    char folder[] = "/tmp/peldo-refused-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string config = std::string(folder) + "/alsa.conf";
    std::ofstream(config) << row.alsa_config;
    setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
    unsetenv("AUDIODEV");
    ScriptedServer server({{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0, Words({protocol::kErrorAccess}))}});
    outputs.push_back(new SoundOutput);
    uint32_t error = 1;
    EXPECT_EQ(outputs.back()->Prepare(SoundFormat{44100, 2, true, {}, 0}, "t", WaitForDescriptor, 5000, &error),
              WaitEnd::kReady);
    EXPECT_EQ(error, row.error) << row.why;
    unlink(config.c_str());
    rmdir(folder);
  }
}

// The server's settings are read once a run: after a silent server the next
// try asks the same server again, though PULSE_SERVER now names none and
// ALSA would play.
TEST(ServerOutputTest, ASecondTryAsksTheServerTheFirstFound) {
  char config[] = "/tmp/peldo-alsa-XXXXXX";
  const int fd = mkstemp(config);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, "pcm.!default { type null }\n", 27), 27);
  close(fd);
  setenv("ALSA_CONFIG_PATH", config, 1);
  unsetenv("AUDIODEV");
  ScriptedServer silent({}, ScriptedServer::Listening::kFullQueue);
  SoundOutput& output = *new SoundOutput;  // never destroyed, as in the player
  const SoundFormat format{44100, 2, true, {}, 0};
  uint32_t error = 0;
  ASSERT_EQ(output.Prepare(format, "t", WaitForDescriptor, 100, &error), WaitEnd::kReady);
  EXPECT_EQ(error, kMediaNoOutput);
  ScriptedServer gone({}, ScriptedServer::Listening::kNobody);
  ASSERT_EQ(output.Prepare(format, "t", WaitForDescriptor, 100, &error), WaitEnd::kReady);
  EXPECT_EQ(error, kMediaNoOutput) << "the settings were read again";
  unlink(config);
}

// The volume word's low half sets the sink's left and centre channels, its
// high half the right ones.
TEST(ServerOutputTest, VolumeSetsEachChannelOfTheSinkFromItsSide) {
  TagWriter sink = Words({7}), volume = Words({protocol::kSetSinkVolume, 4, 7});
  sink.String("sink");
  sink.String("a sink");
  sink.SampleFormat(3, 5, 44100);
  sink.ChannelMap({1, 2, 3, 5, 6});  // FL FR FC RL RR
  // No stream to ask where it would play: the sink is looked up by name.
  ScriptedServer server(LetIn({{Step::kRead},
                               {Step::kSend, Packet(protocol::kError, 2, Words({protocol::kErrorNotSupported}))},
                               {Step::kRead}, {Step::kSend, Packet(protocol::kReply, 3, sink)},
                               {Step::kKeep}, {Step::kSend, Packet(protocol::kReply, 4)}}));
  ServerAnswer answer = ServerAnswer::kNone;
  VolumeControl* control = nullptr;
  std::unique_ptr<OutputDriver> output = ConnectServerOutput(ReadServerSettings(), DeadlineAfter(5000), &answer, &control);
  ASSERT_NE(control, nullptr);
  control->SetVolume(0x40002000, DeadlineAfter(5000));
  output.reset();
  volume.String(nullptr);
  volume.Volume({0x2000, 0x4000, 0x2000, 0x2000, 0x4000});
  EXPECT_EQ(server.Kept(), std::vector<std::string>{volume.Bytes()});
}

// A run that ends before it plays never waits for the login it started,
// also while the server has not answered yet.
TEST(ServerOutputTest, AConnectionStillUnderWayIsNotWaitedForAtTheEnd) {
  const std::string refused = Packet(protocol::kError, 0, Words({protocol::kErrorAccess}));
  ScriptedServer server({{Step::kRead}, {Step::kPause, "", 1000}, {Step::kSend, refused}});
  SoundOutput& output = *new SoundOutput;  // never destroyed, as in the player
  output.Connect();
  const uint64_t start = platform::MonotonicMilliseconds();
  output.Drain(5000, WaitForDescriptor);
  EXPECT_LT(platform::MonotonicMilliseconds() - start, 500u);
}

// The stream asks for the sink the user named, else the server's choice,
// for the buffering in bytes of its samples, and shows the sound's name.
TEST(ServerOutputTest, AStreamAsksForItsSinkBufferingAndName) {
  const struct {
    const char* why;
    uint8_t format;
    std::string sink;
    uint32_t bytes[3];  // held, waited for before it starts, asked for at a time
  } cases[] = {
      {"16-bit on the user's sink", protocol::kSigned16, "mine", {176400, 1764, 44100}},
      {"floats on the server's choice", protocol::kFloat32, "", {352800, 3528, 88200}},
  };
  for (const auto& row : cases) {
    const TagWriter request =
        StreamRequest(protocol::kVersion, row.format, 44100, {1, 2}, "ding.wav", row.sink, {1000000, 250000, 10000});
    TagReader values(request.Bytes());
    uint32_t index = 0, longest = 0, held = 0, start = 0, asked = 0, group = 0;
    std::string sink = "(none)";
    bool corked = true, flag = false;
    PropertyList properties;
    ASSERT_TRUE(values.SampleFormat() && values.ChannelMap(nullptr) && values.U32(&index) && values.String(&sink) &&
                values.U32(&longest) && values.Bool(&corked) && values.U32(&held) && values.U32(&start) &&
                values.U32(&asked) && values.U32(&group) && values.Volume()) << row.why;
    for (int i = 0; i < 9; ++i) ASSERT_TRUE(values.Bool(&flag)) << row.why;
    ASSERT_TRUE(values.Properties(&properties)) << row.why;
    EXPECT_EQ(sink, row.sink) << row.why;
    EXPECT_FALSE(corked) << row.why;
    EXPECT_EQ((std::vector<uint32_t>{held, start, asked}), std::vector<uint32_t>(row.bytes, row.bytes + 3)) << row.why;
    EXPECT_EQ(properties, (PropertyList{{"media.name", std::string("ding.wav", 9)}})) << "a text with its zero";
  }
}

struct PositionsCase {
  const char* why;
  unsigned channels;
  std::vector<int> file_map;
  std::vector<uint8_t> positions;
};

TEST(ServerOutputTest, ChannelsGoWhereTheFileSaysElseWhereTheClientLibraryPutsThem) {
  const PositionsCase cases[] = {
      {"a quad file's mask 0x33: the front pair, then the rear pair", 4, {2, 3, 9, 10}, {1, 2, 5, 6}},
      {"7.1: the side pair on the sides", 8, {5, 6, 7, 11, 9, 10, 14, 15}, {1, 2, 3, 7, 5, 6, 10, 11}},
      {"five channels without a map: no LFE", 5, {}, {1, 2, 3, 5, 6}},
      {"six without a map", 6, {}, {1, 8, 3, 2, 9, 4}},
      {"eight without a map: six, then auxiliaries", 8, {}, {1, 8, 3, 2, 9, 4, 12, 13}},
      {"an ambisonic channel has no speaker: the default", 2, {23, 24}, {1, 2}},
      {"mono", 1, {1}, {0}},
  };
  for (const PositionsCase& row : cases) {
    SoundFormat format;
    format.rate = 44100;
    format.channels = row.channels;
    format.channel_map = row.file_map;
    EXPECT_EQ(ChannelPositions(format), row.positions) << row.why;
  }
}

}  // namespace
