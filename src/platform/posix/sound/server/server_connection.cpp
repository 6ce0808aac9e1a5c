#include "platform/posix/sound/server/server_connection.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/server_address.h"
#include "platform/posix/waits.h"

namespace {

using namespace protocol;

std::string Header(size_t size, uint32_t channel) {
  std::string header;
  AppendBe32(&header, static_cast<uint32_t>(size));
  AppendBe32(&header, channel);
  for (int word = 0; word < 3; ++word) AppendBe32(&header, 0);
  return header;
}

}  // namespace

ServerConnection::Opened ServerConnection::Open(uint64_t deadline) {
  // The servers the environment names, in order, as the client library tries them.
  for (const std::string& path : ServerSocketPaths()) {
    const Opened opened = OpenAt(path, deadline);
    if (opened != Opened::kNone) return opened;
  }
  return Opened::kNone;
}

ServerConnection::Opened ServerConnection::OpenAt(const std::string& path, uint64_t deadline) {
  Close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return Opened::kNone;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  // A local connection is made or refused at once.
  if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      fcntl(fd_, F_SETFL, O_NONBLOCK) != 0) {
    Close();
    return Opened::kNone;
  }
  std::string reply;
  TagWriter auth;
  auth.U32(kVersion);
  auth.Arbitrary(ServerCookie());
  End end = Call(kAuth, auth, deadline, -1, &reply);
  if (end == End::kDone) {
    // The lower of the two versions; the server's high bits are flags.
    uint32_t server_version = 0;
    TagReader values(reply);
    version_ = values.U32(&server_version) ? std::min(server_version & 0xFFFF, kVersion) : 0;
    if (version_ < kOldestVersion) end = End::kRefused;
  }
  if (end == End::kDone) {
    // Before version 13 a client gives its name as a plain string.
    TagWriter name;
    if (version_ < 13) {
      name.String("PELDO");
    } else {
      name.Properties("application.name", "PELDO");
    }
    end = Call(kSetClientName, name, deadline, -1, &reply);
  }
  if (end == End::kDone) return Opened::kReady;
  Close();
  return end == End::kTimedOut ? Opened::kSilent : Opened::kNone;
}

void ServerConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  input_.clear();
  channel_ = UINT32_MAX;
  requested_ = 0;
  stream_lost_ = false;
  stream_suspended_ = false;
  version_ = 0;
}

void ServerConnection::Follow(uint32_t channel, size_t requested, bool suspended) {
  channel_ = channel;
  requested_ = requested;
  stream_lost_ = false;
  stream_suspended_ = suspended;
}

ServerConnection::End ServerConnection::Call(uint32_t command, const TagWriter& values, uint64_t deadline,
                                             int stop, std::string* reply, uint32_t* error) {
  if (fd_ < 0) return End::kLost;
  TagWriter head;
  head.U32(command);
  awaited_tag_ = next_tag_++;
  head.U32(awaited_tag_);
  const std::string body = head.Bytes() + values.Bytes();
  answered_ = false;
  End end = SendAll(Header(body.size(), kCommandChannel) + body, deadline, stop);
  if (end == End::kDone) end = ReadUntil([this] { return answered_; }, deadline, stop);
  if (end != End::kDone) return end;
  if (refused_) {
    if (error != nullptr) *error = error_;
    return End::kRefused;
  }
  *reply = std::move(reply_);
  return End::kDone;
}

ServerConnection::End ServerConnection::Send(uint32_t channel, const char* data, size_t size, uint64_t deadline,
                                             int stop) {
  if (fd_ < 0) return End::kLost;
  // The samples are copied once, behind their header.
  std::string packet = Header(size, channel);
  packet.reserve(kHeaderSize + size);
  packet.append(data, size);
  return SendAll(packet, deadline, stop);
}

ServerConnection::End ServerConnection::Wait(uint64_t deadline, int stop) {
  const size_t before = requested_;
  const bool suspended = stream_suspended_;
  const End end = ReadUntil(
      [&] { return requested_ != before || stream_suspended_ != suspended || stream_lost_; }, deadline, stop);
  return end == End::kDone && stream_lost_ ? End::kLost : end;
}

ServerConnection::End ServerConnection::SendAll(const std::string& bytes, uint64_t deadline, int stop) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t written = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (written > 0) {
      sent += static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return End::kLost;
    pollfd watched[2] = {{fd_, POLLOUT, 0}, {stop, POLLIN, 0}};
    const int ready = PollUntil(watched, stop >= 0 ? 2 : 1, deadline);
    if (ready < 0) return End::kLost;
    if (ready == 0) return End::kTimedOut;
    if ((watched[1].revents & POLLIN) != 0) return End::kStopped;
  }
  return End::kDone;
}

template <typename Done>
ServerConnection::End ServerConnection::ReadUntil(Done done, uint64_t deadline, int stop) {
  char buffer[65536];
  for (;;) {
    // The whole packets read so far, up to the one awaited: what comes
    // after it (a request for the stream just made) waits until the caller
    // knows the stream.
    if (done()) return End::kDone;
    while (input_.size() >= kHeaderSize && input_.size() >= kHeaderSize + ReadBe32(input_.data())) {
      const size_t size = ReadBe32(input_.data());
      Handle(ReadBe32(input_.data() + 4), std::string_view(input_).substr(kHeaderSize, size));
      input_.erase(0, kHeaderSize + size);
      if (done()) return End::kDone;
    }
    if (stream_lost_) return End::kLost;
    const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
    if (got > 0) {
      input_.append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return End::kLost;
    pollfd watched[2] = {{fd_, POLLIN, 0}, {stop, POLLIN, 0}};
    const int ready = PollUntil(watched, stop >= 0 ? 2 : 1, deadline);
    if (ready < 0) return End::kLost;
    if (ready == 0) return End::kTimedOut;
    if ((watched[1].revents & POLLIN) != 0) return End::kStopped;
  }
}

void ServerConnection::Handle(uint32_t channel, std::string_view packet) {
  if (channel != kCommandChannel) return;  // no stream of ours sends samples
  TagReader values(packet);
  uint32_t command = 0;
  uint32_t tag = 0;
  if (!values.U32(&command) || !values.U32(&tag)) return;
  if ((command == kReply || command == kError) && tag == awaited_tag_) {
    answered_ = true;
    refused_ = command == kError;
    error_ = 0;
    if (refused_) values.U32(&error_);
    reply_.assign(packet.substr(10));
    return;
  }
  uint32_t stream = 0;
  uint32_t bytes = 0;
  if (command == kRequest && values.U32(&stream) && values.U32(&bytes) && stream == channel_) requested_ += bytes;
  if (command == kPlaybackStreamKilled && values.U32(&stream) && stream == channel_) stream_lost_ = true;
  // Suspended or resumed, or moved to another sink, which may itself be
  // suspended: its index and name come before the flag.
  bool suspended = false;
  if (command == kPlaybackStreamSuspended && values.U32(&stream) && stream == channel_ && values.Bool(&suspended)) {
    stream_suspended_ = suspended;
  }
  uint32_t sink = 0;
  if (command == kPlaybackStreamMoved && values.U32(&stream) && stream == channel_ && values.U32(&sink) &&
      values.String() && values.Bool(&suspended)) {
    stream_suspended_ = suspended;
  }
}
