// The sound server's protocol: its values read back as they were written,
// and a connection's answers to a server that is missing, full, silent,
// refuses, answers and then drops the stream, floods, or breaks the framing.
#include <gtest/gtest.h>
#include <sys/eventfd.h>

#include "platform/platform.h"
#include "platform/posix/sound/feed.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/server/pulse_output.h"
#include "platform/posix/waits.h"
#include "posix/scripted_server.h"

namespace {

TEST(ServerConnectionTest, ValuesReadBackInOrderAndAWrongTypeStopsTheReader) {
  TagWriter written;
  written.U32(0xDEADBEEF);
  written.String("sink name");
  written.String(nullptr);
  written.SampleSpec(3, 2, 44100);
  written.ChannelMap({1, 2});
  written.Usec(1234567890123);
  written.Bool(true);
  written.Timeval(5000001);
  TagReader read(written.Bytes());
  uint32_t number = 0;
  std::vector<uint8_t> positions;
  uint64_t usec = 0;
  bool flag = false;
  EXPECT_TRUE(read.U32(&number) && read.String() && read.String() && read.SampleSpec() &&
              read.ChannelMap(&positions) && read.U64('U', &usec) && read.Bool(&flag) && read.Timeval());
  EXPECT_EQ(number, 0xDEADBEEFu);
  EXPECT_EQ(positions, (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(usec, 1234567890123u);
  EXPECT_TRUE(flag);
  EXPECT_FALSE(read.U32(&number)) << "nothing is left";
  TagReader wrong(written.Bytes());
  EXPECT_FALSE(wrong.String()) << "a number is no string";
  EXPECT_FALSE(wrong.U32(&number)) << "a failed reader stays failed";
  TagWriter too_many;
  too_many.ChannelMap(std::vector<uint8_t>(33, 1));
  TagReader refused(too_many.Bytes());
  EXPECT_FALSE(refused.ChannelMap(nullptr)) << "more channels than a map may have";
}

struct ServerCase {
  const char* why;
  std::vector<Step> script;
  ServerConnection::Opened opened;
  std::vector<ServerConnection::End> waits = {};  // each Wait's end, 300 ms each
  size_t requested = 0;
  bool hung_up = false;  // the client hangs up on a broken frame
  bool stopped = false;  // the stop descriptor is set throughout
  ScriptedServer::Listening listening = ScriptedServer::Listening::kAccepts;
};

TEST(ServerConnectionTest, ConnectionAnswersAsTheServerDoes) {
  using End = ServerConnection::End;
  using Opened = ServerConnection::Opened;
  TagWriter stream;  // stream 7: 100 bytes asked for, then the stream killed
  stream.U32(7);
  stream.U32(100);
  TagWriter killed;
  killed.U32(7);
  TagWriter nothing_asked;
  nothing_asked.U32(7);
  nothing_asked.U32(0);
  std::string flood;
  for (int i = 0; i < 30000; ++i) flood += Packet(protocol::kRequest, UINT32_MAX, nothing_asked);
  const ServerCase cases[] = {
      {"nobody listens", {}, Opened::kNone, {}, 0, false, false, ScriptedServer::Listening::kNobody},
      {"a server whose queue is full", {}, Opened::kSilent, {}, 0, false, false, ScriptedServer::Listening::kFullQueue},
      {"a server that says nothing", {{Step::kRead}}, Opened::kSilent},
      {"a server that refuses the cookie", {{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0)}}, Opened::kNone},
      {"a server that answers", LetIn({{Step::kSend, Packet(61, UINT32_MAX, stream) + Packet(64, UINT32_MAX, killed)}},
                                      0x80000000 | 20),
       Opened::kReady, {End::kDone, End::kLost}, 100},
      {"a server that floods before it answers", {{Step::kRead}, {Step::kRepeat, flood}}, Opened::kSilent},
      {"a server that floods the stream", LetIn({{Step::kRepeat, flood}}), Opened::kReady, {End::kTimedOut}},
      {"a flood while the stop descriptor is set", LetIn({{Step::kRepeat, flood}}), Opened::kReady, {End::kStopped},
       0, false, true},
      {"a length past the servers' bound", LetIn({{Step::kSend, Header(protocol::kMaxPacketSize + 1)}, {Step::kPause, "", 5000}}),
       Opened::kReady, {End::kLost}, 0, true},
      {"samples in shared memory, never offered", LetIn({{Step::kSend, Header(8, 7, 0x80000000) + "12345678"}, {Step::kPause, "", 5000}}),
       Opened::kReady, {End::kLost}, 0, true},
  };
  const int stop = eventfd(1, EFD_CLOEXEC);
  for (const ServerCase& row : cases) {
    ScriptedServer server(row.script, row.listening);
    ServerConnection connection;
    const uint64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(connection.Open(DeadlineAfter(300)), row.opened) << row.why;
    if (row.opened == Opened::kReady) {
      EXPECT_EQ(connection.Version(), row.requested == 100 ? 20u : protocol::kVersion) << "the lower of the two versions";
      connection.Follow(7, 0, false);
    }
    for (const End end : row.waits) EXPECT_EQ(connection.Wait(DeadlineAfter(300), row.stopped ? stop : -1), end) << row.why;
    EXPECT_LT(platform::MonotonicMilliseconds() - start, 300 * (1 + row.waits.size()) + 1000) << row.why;
    EXPECT_EQ(connection.Requested(), row.requested) << row.why;
    EXPECT_EQ(connection.IsOpen(), row.opened == Opened::kReady && !row.hung_up) << row.why;
    connection.Close();
  }
  close(stop);
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
TEST(ServerConnectionTest, DriverAnswersAsTheServerDoes) {
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
  TagWriter one_byte, resumed, more, whole, refused_code;  // stream 0: asked for a byte; resumed; 200 frames; 0.5 s
  for (const uint32_t word : {0u, 1u}) one_byte.U32(word);
  for (const uint32_t word : {0u, 800u}) more.U32(word);
  for (const uint32_t word : {0u, 88200u}) whole.U32(word);
  refused_code.U32(protocol::kErrorNotSupported);
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
      {"a refused latency query leaves the tail to the clock: 0.5 s less the last 0.1 s",
       made(false, {{Step::kSend, Packet(61, UINT32_MAX, whole)}, {Step::kRead}, {Step::kRead}, {Step::kRead},
                    {Step::kSend, Packet(protocol::kError, 3, refused_code)}}),
       0, true, 350, 1000, 22050},
  };
  for (const DriverCase& row : cases) {
    ScriptedServer server(LetIn(row.script));
    ServerAnswer answer = ServerAnswer::kNone;
    VolumeControl* volume = nullptr;
    std::unique_ptr<OutputDriver> output = ConnectPulseOutput(DeadlineAfter(5000), &answer, &volume);
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
    EXPECT_EQ(loop.Play(*output, format, BufferingFor(format, true), source, -1), row.played) << row.why;
    const uint64_t took = platform::MonotonicMilliseconds() - start;
    EXPECT_GE(took, static_cast<uint64_t>(row.at_least_ms)) << row.why;
    EXPECT_LE(took, static_cast<uint64_t>(row.at_most_ms)) << row.why;
    // Played through, the stream carries on: no new handshake for the next sound.
    if (row.played) {
      EXPECT_EQ(output->Open(format, BufferingFor(format, true), "tone", DeadlineAfter(1000)), 0u) << row.why;
    }
  }
}

}  // namespace
