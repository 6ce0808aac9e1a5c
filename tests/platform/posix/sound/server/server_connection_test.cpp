// The sound server's protocol: its values read back as they were written,
// and a connection's answers to a server that is missing, full, silent,
// refuses, answers and then drops the stream, floods, or breaks the framing.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstring>
#include <fstream>

#include "platform/platform.h"
#include "platform/posix/sound/server/server_output.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/waits.h"
#include "scripted_server.h"

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
              read.ChannelMap(&positions) && read.U64(protocol::kTagUsec, &usec) && read.Bool(&flag) && read.Timeval() &&
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
  ServerAnswer opened;
  std::vector<ServerConnection::End> waits = {};  // each Wait's end, 300 ms each
  size_t requested = 0;
  bool hung_up = false;  // the client hangs up on a broken frame
  bool stopped = false;  // the stop descriptor is set throughout
  ScriptedServer::Listening listening = ScriptedServer::Listening::kAccepts;
};

TEST(ServerConnectionTest, ConnectionAnswersAsTheServerDoes) {
  using End = ServerConnection::End;
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
      {"nobody listens", {}, ServerAnswer::kNone, {}, 0, false, false, ScriptedServer::Listening::kNobody},
      {"a server whose queue is full", {}, ServerAnswer::kSilent, {}, 0, false, false, ScriptedServer::Listening::kFullQueue},
      {"a server that says nothing", {{Step::kRead}}, ServerAnswer::kSilent},
      {"a server that fails the login", {{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0)}}, ServerAnswer::kNone},
      {"a server that refuses access (a wrong cookie)",
       {{Step::kRead}, {Step::kSend, Packet(protocol::kError, 0, access)}}, ServerAnswer::kRefused},
      {"a server that answers", LetIn({{Step::kSend, Packet(protocol::kRequest, UINT32_MAX, stream) + Packet(protocol::kPlaybackStreamKilled, UINT32_MAX, killed)}},
                                      0x80000000 | 20),
       ServerAnswer::kReady, {End::kDone, End::kLost}, 100},
      {"a server that floods before it answers", {{Step::kRead}, {Step::kRepeat, flood}}, ServerAnswer::kSilent},
      {"a server that floods the stream", LetIn({{Step::kRepeat, flood}}), ServerAnswer::kReady, {End::kTimedOut}},
      {"a flood while the stop descriptor is set", LetIn({{Step::kRepeat, flood}}), ServerAnswer::kReady, {End::kStopped},
       0, false, true},
      {"a length past the servers' bound", LetIn({{Step::kSend, Header(protocol::kMaxPacketSize + 1)}, {Step::kPause, "", 5000}}),
       ServerAnswer::kReady, {End::kLost}, 0, true},
      {"samples in shared memory, never offered", LetIn({{Step::kSend, Header(8, 7, 0x80000000) + "12345678"}, {Step::kPause, "", 5000}}),
       ServerAnswer::kReady, {End::kLost}, 0, true},
  };
  const int stop = eventfd(1, EFD_CLOEXEC);
  for (const ServerCase& row : cases) {
    ScriptedServer server(row.script, row.listening);
    ServerConnection connection;
    const uint64_t start = platform::MonotonicMilliseconds();
    EXPECT_EQ(connection.Open(ReadServerSettings(), DeadlineAfter(300)), row.opened) << row.why;
    if (row.opened == ServerAnswer::kReady) {
      EXPECT_EQ(connection.Version(), row.requested == 100 ? 20u : protocol::kVersion) << "the lower of the two versions";
      connection.Follow(7, 0, false, protocol::kNoIndex);
    }
    for (const End end : row.waits) EXPECT_EQ(connection.Wait(DeadlineAfter(300), row.stopped ? stop : -1), end) << row.why;
    EXPECT_LT(platform::MonotonicMilliseconds() - start, 300 * (1 + row.waits.size()) + 1000) << row.why;
    EXPECT_EQ(connection.Requested(), row.requested) << row.why;
    EXPECT_EQ(connection.IsOpen(), row.opened == ServerAnswer::kReady && !row.hung_up) << row.why;
    connection.Close();
  }
  close(stop);
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
  setenv("XDG_SESSION_ID", "c7", 1);
  ServerConnection connection;
  connection.Attach(ends[0], 0);
  EXPECT_EQ(connection.Introduce(ReadServerSettings(), DeadlineAfter(2000)), ServerAnswer::kReady);
  unsetenv("PULSE_PROP_media.role");
  unsetenv("PULSE_PROP");
  unsetenv("XDG_SESSION_ID");
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
  EXPECT_EQ(value("application.process.session_id"), std::string("c7", 3)) << "XDG_SESSION_ID";
  close(ends[1]);
}

}  // namespace
