// The sound server's protocol: its values read back as they were written,
// and a connection's answers to a server that is missing, full, silent,
// refuses, answers and then drops the stream, floods, or breaks the framing.
#include <gtest/gtest.h>
#include <sys/eventfd.h>

#include "platform/platform.h"
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

}  // namespace
