// A sound server that plays a script, for tests of the program's side of the
// protocol. It listens at a socket of its own, which PULSE_SERVER names while
// it lives, plays its steps in order on the first connection, then reads
// until the client hangs up. A hang-up ends every step at once, and nothing
// waits past the bounds below, so a test ends however its client behaves.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/server_connection.h"

struct Step {
  enum Kind { kRead, kSend, kRepeat, kPause };
  Kind kind;             // read one packet; send; send until the client hangs up; pause
  std::string bytes{};   // what kSend and kRepeat send
  int ms = 0;            // kRepeat: the pause between two sends; kPause: how long
};

// A packet's header.
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
  std::vector<Step> steps = {{Step::kRead}, {Step::kSend, Packet(protocol::kReply, 0, auth)}, {Step::kRead},
                             {Step::kSend, Packet(protocol::kReply, 1)}};
  steps.insert(steps.end(), rest.begin(), rest.end());
  return steps;
}

class ScriptedServer {
 public:
  enum class Listening { kNobody, kFullQueue, kAccepts };

  explicit ScriptedServer(std::vector<Step> script, Listening listening = Listening::kAccepts)
      : script_(std::move(script)) {
    if (mkdtemp(folder_) == nullptr) return;
    path_ = std::string(folder_) + "/native";
    setenv("PULSE_SERVER", ("unix:" + path_).c_str(), 1);
    if (listening == Listening::kNobody) return;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path_.copy(address.sun_path, sizeof address.sun_path - 1);
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 0);
    if (listening == Listening::kFullQueue) {
      // A queue of length 0 holds one connection, never accepted.
      filler_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address);
      return;
    }
    thread_ = std::thread([this] {
      pollfd waiting = {listener_, POLLIN, 0};
      if (poll(&waiting, 1, 10000) <= 0) return;
      const int client = accept(listener_, nullptr, nullptr);
      Play(client);
      close(client);
    });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();  // once the client has hung up
    for (const int fd : {listener_, filler_}) close(fd);
    unlink(path_.c_str());
    rmdir(folder_);
    unsetenv("PULSE_SERVER");
  }

 private:
  static bool HungUp(int client, int ms) {
    pollfd watched = {client, POLLRDHUP, 0};
    return poll(&watched, 1, ms) != 0;
  }
  static bool Sent(int client, const std::string& bytes) {
    return send(client, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  void Play(int client) const {
    bool going = true;
    for (auto step = script_.begin(); going && step != script_.end(); ++step) {
      char header[protocol::kHeaderSize];
      std::string body;
      switch (step->kind) {
        case Step::kRead:
          going = recv(client, header, sizeof header, MSG_WAITALL) == static_cast<ssize_t>(sizeof header);
          if (going) body.resize(ReadBe32(header));
          going = going && recv(client, body.data(), body.size(), MSG_WAITALL) == static_cast<ssize_t>(body.size());
          break;
        case Step::kSend: going = Sent(client, step->bytes); break;
        case Step::kRepeat:
          while (Sent(client, step->bytes) && !HungUp(client, step->ms)) {
          }
          going = false;
          break;
        case Step::kPause: going = !HungUp(client, step->ms); break;
      }
    }
    char rest[4096];
    while (recv(client, rest, sizeof rest, 0) > 0) {
    }
  }

  std::vector<Step> script_;
  char folder_[32] = "/tmp/peldo-server-XXXXXX";
  std::string path_;
  int listener_ = -1;
  int filler_ = -1;
  std::thread thread_;
};
