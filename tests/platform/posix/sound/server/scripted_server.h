// A sound server that plays a script, for tests of the program's side of the
// protocol. It listens at a socket of its own, which PULSE_SERVER names while
// it lives, plays its steps in order on the first connection, then reads
// until the client hangs up. A hang-up ends every step at once, so a test
// ends however its client behaves.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/sound/server/server_protocol.h"

struct Step {
  enum Kind { kRead, kSend, kRepeat, kPause, kKeep };
  Kind kind;            // read one packet; send; send until the client hangs up (10 s at most); pause;
                        // read one packet and keep it (ScriptedServer::Kept)
  std::string bytes{};  // what kSend and kRepeat send
  int ms = 0;           // kRepeat: the pause between two sends; kPause: how long
};

inline std::string Header(uint32_t size, uint32_t channel = protocol::kCommandChannel, uint32_t flags = 0) {
  std::string header;
  for (const uint32_t word : {size, channel, 0u, 0u, flags}) AppendBe32(&header, word);
  return header;
}

// One command packet: its number, tag and values behind the header.
inline std::string Packet(uint32_t command, uint32_t tag, const TagWriter& values = {}) {
  TagWriter head;
  head.U32(command);
  head.U32(tag);
  return Header(static_cast<uint32_t>(head.Bytes().size() + values.Bytes().size())) + head.Bytes() + values.Bytes();
}

// The server's side of letting the client in at `version`, then `rest`.
inline std::vector<Step> LetIn(std::vector<Step> rest, uint32_t version = protocol::kVersion) {
  TagWriter auth;
  auth.U32(version);
  rest.insert(rest.begin(), {{Step::kRead}, {Step::kSend, Packet(protocol::kReply, 0, auth)}, {Step::kRead},
                             {Step::kSend, Packet(protocol::kReply, 1)}});
  return rest;
}

class ScriptedServer {
 public:
  enum class Listening { kNobody, kFullQueue, kAccepts };

  explicit ScriptedServer(std::vector<Step> script, Listening listening = Listening::kAccepts) {
    path_ = std::string(mkdtemp(folder_)) + "/native";
    setenv("PULSE_SERVER", ("unix:" + path_).c_str(), 1);
    if (listening == Listening::kNobody) return;
    sockaddr_un address{AF_UNIX, {}};
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 0);
    // A queue of length 0 holds one connection: this one, never accepted.
    filler_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening == Listening::kFullQueue) connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    if (listening == Listening::kAccepts) {
      thread_ = std::thread(&ScriptedServer::Play, listener_, std::move(script), &kept_);
    }
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();  // once the client has hung up
    for (const int fd : {listener_, filler_}) close(fd);
    unlink(path_.c_str());
    rmdir(folder_);
    unsetenv("PULSE_SERVER");
  }

  // The packets of the kKeep steps, headers cut off, once the client has hung up.
  const std::vector<std::string>& Kept() {
    if (thread_.joinable()) thread_.join();
    return kept_;
  }

 private:
  using Clock = std::chrono::steady_clock;
  static bool HungUp(int client, int ms) {
    pollfd watched = {client, POLLRDHUP, 0};
    return poll(&watched, 1, ms) != 0;
  }
  static bool Sent(int client, const std::string& bytes) {
    return send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // Reads `size` bytes into `into`, or drops them.
  static bool Read(int client, char* into, size_t size) {
    std::string dropped(into == nullptr ? size : 0, '\0');
    return recv(client, into == nullptr ? dropped.data() : into, size, MSG_WAITALL) == static_cast<ssize_t>(size);
  }
  static void Play(int listener, std::vector<Step> script, std::vector<std::string>* kept) {
    pollfd waiting = {listener, POLLIN, 0};
    const int client = poll(&waiting, 1, 10000) > 0 ? accept(listener, nullptr, nullptr) : -1;
    char header[protocol::kHeaderSize];
    // A send buffer of megabytes keeps a flood ahead of any reader.
    const int buffer = 64 << 20;
    setsockopt(client, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    bool going = client >= 0;
    for (auto step = script.begin(); going && step != script.end(); ++step) {
      switch (step->kind) {
        case Step::kRead:
          going = Read(client, header, sizeof header) && Read(client, nullptr, ReadBe32(header));
          break;
        case Step::kSend: going = Sent(client, step->bytes); break;
        case Step::kRepeat:
          for (const auto end = Clock::now() + std::chrono::seconds(10); Clock::now() < end && Sent(client, step->bytes);) {
            if (HungUp(client, step->ms)) break;
          }
          going = false;
          break;
        case Step::kPause: going = !HungUp(client, step->ms); break;
        case Step::kKeep:
          going = Read(client, header, sizeof header);
          kept->emplace_back(going ? ReadBe32(header) : 0, '\0');
          going = going && Read(client, kept->back().data(), kept->back().size());
          break;
      }
    }
    while (client >= 0 && recv(client, header, sizeof header, 0) > 0) {
    }
    close(client);
  }

  char folder_[32] = "/tmp/peldo-server-XXXXXX";
  std::string path_;
  int listener_ = -1;
  int filler_ = -1;
  std::vector<std::string> kept_;
  std::thread thread_;
};
