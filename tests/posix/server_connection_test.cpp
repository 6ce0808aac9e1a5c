// The sound server's protocol: its values read back as they were written,
// and a connection's answers to a server that is missing, silent, refuses,
// or answers and then drops the stream.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/server/pulse_output.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/waits.h"

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
}

// One command packet: its number, tag and values behind the header.
std::string Packet(uint32_t command, uint32_t tag, const TagWriter& values = {}) {
  TagWriter head;
  head.U32(command);
  head.U32(tag);
  const std::string body = head.Bytes() + values.Bytes();
  std::string packet;
  for (const uint32_t word : {static_cast<uint32_t>(body.size()), UINT32_MAX, 0u, 0u, 0u}) AppendBe32(&packet, word);
  return packet + body;
}

struct ServerCase {
  const char* why;
  std::vector<std::string> answers;  // sent after each packet the client sends
  ServerConnection::Opened opened;
};

TEST(ServerConnectionTest, ConnectionAnswersAsTheServerDoes) {
  TagWriter stream;  // stream 7: 100 bytes asked for, then the stream killed
  stream.U32(7);
  stream.U32(100);
  TagWriter killed;
  killed.U32(7);
  TagWriter version;  // the server's version, with a flag in the high bits
  version.U32(0x80000000 | 20);
  const ServerCase cases[] = {
      {"nobody listens", {}, ServerConnection::Opened::kNone},
      {"a server that says nothing", {""}, ServerConnection::Opened::kSilent},
      {"a server that refuses the cookie", {Packet(0, 0)}, ServerConnection::Opened::kNone},
      {"a server that answers", {Packet(2, 0, version), Packet(2, 1) + Packet(61, UINT32_MAX, stream) + Packet(64, UINT32_MAX, killed)},
       ServerConnection::Opened::kReady},
  };
  char folder[] = "/tmp/peldo-server-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/native";
  setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
  for (const ServerCase& row : cases) {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (!row.answers.empty()) {
      ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << row.why;
    }
    listen(listener, 4);
    std::thread server([&] {
      if (row.answers.empty()) return;
      const int client = accept(listener, nullptr, nullptr);
      for (const std::string& answer : row.answers) {
        char header[20];
        if (read(client, header, sizeof header) != 20) break;
        std::string body(ReadBe32(header), '\0');
        if (read(client, body.data(), body.size()) < 0 || write(client, answer.data(), answer.size()) < 0) break;
      }
      char rest;
      while (read(client, &rest, 1) > 0) {
      }
      close(client);
    });
    ServerConnection connection;
    EXPECT_EQ(connection.Open(DeadlineAfter(300)), row.opened) << row.why;
    if (row.opened == ServerConnection::Opened::kReady) {
      EXPECT_EQ(connection.Version(), 20u) << "the lower of the two versions";
      connection.Follow(7, 0, false);
      EXPECT_EQ(connection.Wait(DeadlineAfter(5000), -1), ServerConnection::End::kDone) << row.why;
      EXPECT_EQ(connection.Requested(), 100u) << row.why;
      EXPECT_EQ(connection.Wait(DeadlineAfter(5000), -1), ServerConnection::End::kLost) << row.why;
    }
    connection.Close();
    server.join();
    close(listener);
    unlink(path.c_str());
  }
  unsetenv("PULSE_SERVER");
  rmdir(folder);
}

// A stream on a scripted server that answers every command, refuses the
// stream or makes it, and then sends `unasked` (ms after the stream, packet).
struct DriverCase {
  const char* why;
  uint32_t refusal;  // 0: the stream is made
  bool suspended;    // the sink, when the stream is made
  std::vector<std::pair<int, std::string>> unasked;
  uint32_t prepared;
  bool played;
  int at_least_ms, at_most_ms;  // how long the feed takes
};

TEST(ServerConnectionTest, DriverAnswersAsTheServerDoes) {
  const auto request = [](uint32_t bytes) { TagWriter v; v.U32(0); v.U32(bytes); return Packet(61, UINT32_MAX, v); };
  TagWriter resumed;
  resumed.U32(0);
  resumed.Bool(false);
  std::vector<std::pair<int, std::string>> drip;  // a byte a second: a frame in 4 s
  for (int ms = 0; ms < 5000; ms += 1000) drip.emplace_back(ms, request(1));
  const DriverCase cases[] = {
      {"invalid settings", 3, false, {}, kMediaOutputFormat, false, 0, 0},
      {"a version the server does not speak", 17, false, {}, kMediaNoOutput, false, 0, 0},
      {"settings the server does not support", 19, false, {}, kMediaOutputFormat, false, 0, 0},
      {"a busy server", 26, false, {}, kMediaOutputBusy, false, 0, 0},
      {"a byte at a time is a stall", 0, false, drip, 0, false, 2400, 3400},
      {"a suspended sink is waited through", 0, true, {{3000, Packet(76, UINT32_MAX, resumed) + request(800)}}, 0, true,
       2900, 4500},
  };
  char folder[] = "/tmp/peldo-server-XXXXXX";
  ASSERT_NE(mkdtemp(folder), nullptr);
  const std::string path = std::string(folder) + "/native";
  setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
  for (const DriverCase& row : cases) {
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << row.why;
    listen(listener, 4);
    std::thread server([&] {
      const int client = accept(listener, nullptr, nullptr);
      uint64_t made = 0;  // when the stream was made
      size_t sent = 0;
      for (;;) {
        pollfd watched = {client, POLLIN, 0};
        const bool due = made != 0 && sent < row.unasked.size();
        if (PollUntil(&watched, 1, due ? made + row.unasked[sent].first : UINT64_MAX) == 0) {
          if (write(client, row.unasked[sent].second.data(), row.unasked[sent].second.size()) < 0) break;
          ++sent;
          continue;
        }
        char header[20];
        if (read(client, header, sizeof header) != 20) break;
        std::string body(ReadBe32(header), '\0');
        if (!body.empty() && recv(client, body.data(), body.size(), MSG_WAITALL) <= 0) break;
        TagReader asked(body);
        uint32_t command = 0, tag = 0;
        if (ReadBe32(header + 4) != UINT32_MAX || !asked.U32(&command) || !asked.U32(&tag)) continue;
        TagWriter values;
        if (command == 8) values.U32(35);
        if (command == 3 && row.refusal == 0) {
          for (const uint32_t word : {0u, 0u, 0u, 176400u, 176400u, 1764u, 44100u}) values.U32(word);
          values.SampleSpec(3, 2, 44100);
          values.ChannelMap({1, 2});
          values.U32(0);
          values.String("sink");
          values.Bool(row.suspended);
          values.Usec(0);
          made = DeadlineAfter(0);
        }
        const std::string answer = command == 3 && row.refusal != 0 ? Packet(0, tag, [&] { TagWriter e; e.U32(row.refusal); return e; }())
                                                                      : Packet(2, tag, values);
        if (write(client, answer.data(), answer.size()) < 0) break;
      }
      close(client);
    });
    ServerAnswer answer = ServerAnswer::kNone;
    std::unique_ptr<OutputDriver> output = ConnectPulseOutput(&answer);
    ASSERT_NE(output, nullptr) << row.why;
    EXPECT_EQ(output->Prepare(44100, 2, true, "tone"), row.prepared) << row.why;
    if (row.prepared == 0) {
      int left = 100;  // frames
      FrameSource source;
      source.int16s = [&left](int16_t* out, long frames) {
        const long given = std::min<long>(left, frames);
        std::fill(out, out + given * 2, int16_t{0});
        left -= static_cast<int>(given);
        return given;
      };
      const uint64_t start = DeadlineAfter(0);
      EXPECT_EQ(output->Feed(source, -1), row.played) << row.why;
      const uint64_t took = DeadlineAfter(0) - start;
      EXPECT_GE(took, static_cast<uint64_t>(row.at_least_ms)) << row.why;
      EXPECT_LE(took, static_cast<uint64_t>(row.at_most_ms)) << row.why;
    }
    output.reset();
    server.join();
    close(listener);
    unlink(path.c_str());
  }
  unsetenv("PULSE_SERVER");
  rmdir(folder);
}

}  // namespace
