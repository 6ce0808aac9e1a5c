// The sound server's protocol: its values read back as they were written,
// and a connection's answers to a server that is missing, full, silent,
// refuses, answers and then drops the stream, floods, or breaks the framing.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/output.h"
#include "platform/posix/sound/server/pulse_output.h"
#include "platform/posix/sound/server/stream_request.h"
#include "platform/posix/waits.h"
#include "posix/scripted_server.h"

namespace {

TEST(ServerConnectionTest, ValuesReadBackInOrderAndAWrongTypeStopsTheReader) {
  TagWriter written;
  written.U32(0xDEADBEEF);
  written.String("sink name");
  written.String(nullptr);
  written.SampleFormat(3, 2, 44100);
  written.ChannelMap({1, 2});
  written.Usec(1234567890123);
  written.Bool(true);
  written.Timeval(5000001);
  written.Volume({1, 2});
  written.Properties({{"media.role", std::string("event", 6)}, {"blob", std::string("\0\xff", 2)}});
  TagReader read(written.Bytes());
  uint32_t number = 0;
  std::vector<uint8_t> positions;
  uint64_t usec = 0;
  bool flag = false;
  PropertyList properties;
  EXPECT_TRUE(read.U32(&number) && read.String() && read.String() && read.SampleFormat() &&
              read.ChannelMap(&positions) && read.U64('U', &usec) && read.Bool(&flag) && read.Timeval() &&
              read.Volume() && read.Properties(&properties));
  EXPECT_EQ(properties, (PropertyList{{"media.role", std::string("event", 6)}, {"blob", std::string("\0\xff", 2)}}));
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
  TagWriter access;
  access.U32(protocol::kErrorAccess);
  std::string flood;
  for (int i = 0; i < 30000; ++i) flood += Packet(protocol::kRequest, UINT32_MAX, nothing_asked);
  const ServerCase cases[] = {
      {"nobody listens", {}, Opened::kNone, {}, 0, false, false, ScriptedServer::Listening::kNobody},
      {"a server whose queue is full", {}, Opened::kSilent, {}, 0, false, false, ScriptedServer::Listening::kFullQueue},
      {"a server that says nothing", {{Step::kRead}}, Opened::kSilent},
      {"a server that fails the login", {{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0)}}, Opened::kNone},
      {"a server that refuses access (a wrong cookie)",
       {{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0, access)}}, Opened::kRefused},
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
      connection.Follow(7, 0, false, protocol::kNoIndex);
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
};

// The driver on a scripted server: the stream refused with the protocol's
// codes, made and then asked for a byte a second, made on a suspended sink.
TEST(ServerConnectionTest, DriverAnswersAsTheServerDoes) {
  const auto refused = [](uint32_t code) {
    TagWriter values;
    values.U32(code);
    return std::vector<Step>{{Step::kRead}, {Step::kSend, Packet(protocol::kError, 2, values)}};
  };
  const auto made = [](bool suspended, std::vector<Step> rest) {  // stream 0, 44100 Hz stereo, nothing asked yet
    TagWriter values;
    for (const uint32_t word : {0u, 0u, 0u, 176400u, 176400u, 1764u, 44100u}) values.U32(word);
    values.SampleFormat(3, 2, 44100);
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

// The login as a server reads it once it has taken the connection and asks
// for credentials: this process's on the cookie's packet (the kernel adds
// none by then), then the name with PULSE_PROP_* and PULSE_PROP merged in.
TEST(ServerConnectionTest, LoginCarriesTheProcessCredentialsAndProperties) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
  TagWriter version;
  version.U32(protocol::kVersion);
  const std::string answers = Packet(protocol::kReply, 0, version) + Packet(protocol::kReply, 1);
  ASSERT_EQ(write(ends[1], answers.data(), answers.size()), static_cast<ssize_t>(answers.size()));
  setenv("PULSE_PROP_media.role", "event", 1);
  setenv("PULSE_PROP", "application.name='a b' window.x11.display=hex:3a30", 1);
  ServerConnection connection;
  connection.Attach(ends[0], 0);
  EXPECT_EQ(connection.Introduce(DeadlineAfter(2000)), ServerConnection::Opened::kReady);
  unsetenv("PULSE_PROP_media.role");
  unsetenv("PULSE_PROP");
  const int on = 1;
  ASSERT_EQ(setsockopt(ends[1], SOL_SOCKET, SO_PASSCRED, &on, sizeof on), 0);
  std::string login(protocol::kHeaderSize, '\0');
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
  iovec piece = {login.data(), login.size()};
  msghdr message{};
  message.msg_iov = &piece;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ASSERT_EQ(recvmsg(ends[1], &message, 0), static_cast<ssize_t>(protocol::kHeaderSize));
  const cmsghdr* attached = CMSG_FIRSTHDR(&message);
  ASSERT_TRUE(attached != nullptr && attached->cmsg_type == SCM_CREDENTIALS);
  ucred ids{};
  std::memcpy(&ids, CMSG_DATA(attached), sizeof ids);
  EXPECT_EQ(ids.pid, getpid());
  EXPECT_EQ(ids.uid, getuid());
  EXPECT_EQ(ids.gid, getgid());
  std::string packets(4096, '\0');
  const ssize_t got = recv(ends[1], packets.data(), packets.size(), 0);
  ASSERT_GT(got, 0);
  std::string name(4096, '\0');
  const ssize_t name_size = recv(ends[1], name.data(), name.size(), 0);
  ASSERT_GT(name_size, static_cast<ssize_t>(protocol::kHeaderSize));
  TagReader values(std::string_view(name).substr(protocol::kHeaderSize, name_size - protocol::kHeaderSize));
  uint32_t command = 0, tag = 0;
  PropertyList properties;
  ASSERT_TRUE(values.U32(&command) && values.U32(&tag) && values.Properties(&properties));
  EXPECT_EQ(command, protocol::kSetClientName);
  const auto value = [&](const std::string& key) {
    for (const auto& [name, bytes] : properties) if (name == key) return bytes;
    return std::string("(none)");
  };
  EXPECT_EQ(value("application.name"), std::string("a b", 4)) << "PULSE_PROP over the program's own";
  EXPECT_EQ(value("media.role"), std::string("event", 6));
  EXPECT_EQ(value("window.x11.display"), ":0") << "hex: bytes as they are";
  EXPECT_EQ(value("application.process.id"), std::to_string(getpid()) + '\0');
  EXPECT_EQ(value("application.process.binary"), std::string("peldo_platform_tests", 21));
  close(ends[1]);
}

// A server that refuses the program access has its own line where no
// other output plays; where ALSA plays instead, nothing is said.
TEST(ServerConnectionTest, AccessRefusedIsSaidOnlyWhereNothingElsePlays) {
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
    TagWriter access;
    access.U32(protocol::kErrorAccess);
    ScriptedServer server({{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0, access)}});
    outputs.push_back(new SoundOutput);
    uint32_t error = 1;
    EXPECT_EQ(outputs.back()->Prepare(SoundFormat{44100, 2, true, {}, 0}, "t", WaitForDescriptor, 5000, &error),
              WaitEnd::kReady);
    EXPECT_EQ(error, row.error) << row.why;
    unlink(config.c_str());
    rmdir(folder);
  }
}

struct PositionsCase {
  const char* why;
  SoundFormat format;
  std::vector<uint8_t> positions;
};

TEST(ServerConnectionTest, ChannelsGoWhereTheFileSaysElseWhereTheClientLibraryPutsThem) {
  const PositionsCase cases[] = {
      {"a quad file's mask 0x33: the front pair, then the rear pair", {44100, 4, true, {2, 3, 9, 10}, 0},
       {1, 2, 5, 6}},
      {"7.1: the side pair on the sides", {44100, 8, true, {5, 6, 7, 11, 9, 10, 14, 15}, 0},
       {1, 2, 3, 7, 5, 6, 10, 11}},
      {"five channels without a map: no LFE", {44100, 5, true, {}, 0}, {1, 2, 3, 5, 6}},
      {"six without a map", {44100, 6, true, {}, 0}, {1, 8, 3, 2, 9, 4}},
      {"eight without a map: six, then auxiliaries", {44100, 8, true, {}, 0}, {1, 8, 3, 2, 9, 4, 12, 13}},
      {"an ambisonic channel has no speaker: the default", {44100, 2, true, {23, 24}, 0}, {1, 2}},
      {"mono", {44100, 1, true, {1}, 0}, {0}},
  };
  for (const PositionsCase& row : cases) EXPECT_EQ(ChannelPositions(row.format), row.positions) << row.why;
}

}  // namespace
