// One connection to a sound server: reaching its socket, the login, and
// the packets both ways, every read and send bounded by its deadline and
// the stop descriptor.
#include "platform/posix/sound/server/server_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <iterator>

#include "platform/platform.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/server/server_settings.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

namespace {

using namespace protocol;


// A packet's header as the client library accepts it: a length from 1 to
// the servers' own bound, no shared memory, no flags on a command and a seek
// mode that exists on samples.
bool HeaderAllowed(const char* header) {
  const uint32_t size = ReadBe32(header);
  const uint32_t flags = ReadBe32(header + 16);
  if (size == 0 || size > kMaxPacketSize || (flags & kSharedMemoryFlags) != 0) return false;
  return ReadBe32(header + 4) == kCommandChannel ? flags == 0 : (flags & kSeekModeMask) <= kLastSeekMode;
}

}  // namespace

ServerAnswer ServerConnection::Open(const ServerSettings& settings, uint64_t deadline) {
  // The servers the environment names, in order, as the client library
  // tries them; one whose queue is full is tried again after the others.
  bool refused = false;
  for (;;) {
    bool full = false;
    for (const std::string& path : settings.sockets) {
      const Reached reached = Connect(path);
      full = full || reached == Reached::kFull;
      const ServerAnswer opened = reached == Reached::kConnected ? Introduce(settings, deadline) : ServerAnswer::kNone;
      refused = refused || opened == ServerAnswer::kRefused;
      if (opened == ServerAnswer::kReady || opened == ServerAnswer::kSilent) return opened;
    }
    if (!full) return refused ? ServerAnswer::kRefused : ServerAnswer::kNone;
    if (ClockMilliseconds() >= deadline) return ServerAnswer::kSilent;
    PollUntil(nullptr, 0, std::min(deadline, DeadlineAfter(sound_bounds::kRetryConnectMs)));
  }
}

void ServerConnection::Attach(int socket, uint32_t version) {
  Close();
  fd_ = socket;
  version_ = version;
}

ServerConnection::Reached ServerConnection::Connect(const std::string& path) {
  Close();
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path) return Reached::kNone;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  // Made without waiting: a local socket connects or is refused at once,
  // and one whose server has a full queue fails with EAGAIN.
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return Reached::kConnected;
  const bool full = fd_ >= 0 && errno == EAGAIN;
  Close();
  return full ? Reached::kFull : Reached::kNone;
}

ServerAnswer ServerConnection::Introduce(const ServerSettings& settings, uint64_t deadline) {
  std::string reply;
  TagWriter auth;
  auth.U32(kVersion);
  auth.Arbitrary(settings.cookie);
  // The login carries who we are, as the client library's does: a server
  // that lets in its own user or a group judges by these, and the kernel
  // attaches none of its own once the server has taken the connection.
  uint32_t error = 0;
  End end = Call(kAuth, auth, deadline, -1, &reply, &error, true);
  if (end == End::kDone) {
    // The lower of the two versions; the server's high bits are flags.
    uint32_t server_version = 0;
    TagReader values(reply);
    version_ = values.U32(&server_version) ? std::min(server_version & kVersionMask, kVersion) : 0;
    if (version_ < kOldestVersion) end = End::kRefused;
  }
  const bool denied = end == End::kRefused && (error == kErrorAccess || error == kErrorAuthKey);
  if (end == End::kDone) {
    // Before version 13 a client gives its name as a plain string.
    TagWriter name;
    if (version_ < 13) {
      name.String(settings.properties.empty() ? "PELDO" : settings.properties.front().second.c_str());
    } else {
      name.Properties(settings.properties);
    }
    end = Call(kSetClientName, name, deadline, -1, &reply);
  }
  if (end == End::kDone) return ServerAnswer::kReady;
  Close();
  if (end == End::kTimedOut) return ServerAnswer::kSilent;
  return denied ? ServerAnswer::kRefused : ServerAnswer::kNone;
}

void ServerConnection::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  input_.clear();
  next_tag_ = 0;  // each connection counts its own, as the client library does
  channel_ = UINT32_MAX;
  requested_ = 0;
  stream_lost_ = false;
  stream_suspended_ = false;
  stream_sink_ = kNoIndex;
  version_ = 0;
}

void ServerConnection::Follow(uint32_t channel, size_t requested, bool suspended, uint32_t sink) {
  channel_ = channel;
  requested_ = requested;
  stream_lost_ = false;
  stream_suspended_ = suspended;
  stream_sink_ = sink;
}

ServerConnection::End ServerConnection::Call(uint32_t command, const TagWriter& values, uint64_t deadline,
                                             int stop, std::string* reply, uint32_t* error) {
  return Call(command, values, deadline, stop, reply, error, false);
}

ServerConnection::End ServerConnection::Call(uint32_t command, const TagWriter& values, uint64_t deadline,
                                             int stop, std::string* reply, uint32_t* error, bool credentials) {
  if (fd_ < 0) return End::kLost;
  TagWriter head;
  head.U32(command);
  awaited_tag_ = next_tag_++;
  head.U32(awaited_tag_);
  answered_ = false;
  End end = SendPacket(kCommandChannel, head.Bytes(), values.Bytes(), deadline, stop, credentials);
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
  return SendPacket(channel, std::string_view(data, size), {}, deadline, stop);
}

ServerConnection::End ServerConnection::Wait(uint64_t deadline, int stop) {
  if (fd_ < 0) return End::kLost;
  const size_t before = requested_;
  const bool suspended = stream_suspended_;
  const End end = ReadUntil(
      [&] { return requested_ != before || stream_suspended_ != suspended || stream_lost_; }, deadline, stop);
  return end == End::kDone && stream_lost_ ? End::kLost : end;
}

ServerConnection::End ServerConnection::Lose() {
  Close();
  return End::kLost;
}

ServerConnection::End ServerConnection::SendPacket(uint32_t channel, std::string_view head, std::string_view body,
                                                   uint64_t deadline, int stop, bool credentials) {
  char header[kHeaderSize] = {};
  PutBe32(header, static_cast<uint32_t>(head.size() + body.size()));
  PutBe32(header + 4, channel);
  iovec pieces[] = {{header, kHeaderSize},
                    {const_cast<char*>(head.data()), head.size()},
                    {const_cast<char*>(body.data()), body.size()}};
  msghdr message{};
  message.msg_iov = pieces;
  message.msg_iovlen = std::size(pieces);
  // The credentials go with the packet's first bytes, as the server reads
  // them with its header.
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(ucred))] = {};
  if (credentials) {
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* attached = CMSG_FIRSTHDR(&message);
    attached->cmsg_level = SOL_SOCKET;
    attached->cmsg_type = SCM_CREDENTIALS;
    attached->cmsg_len = CMSG_LEN(sizeof(ucred));
    const ucred ids = {getpid(), getuid(), getgid()};
    std::memcpy(CMSG_DATA(attached), &ids, sizeof ids);
  }
  // Every pass looks at the clock and the stop descriptor, also when the
  // socket takes a little at a time.
  for (bool first = true;; first = false) {
    if (!first && ClockMilliseconds() >= deadline) return End::kTimedOut;
    pollfd watched[2] = {{fd_, POLLOUT, 0}, {stop, POLLIN, 0}};
    const int ready = PollUntil(watched, stop >= 0 ? 2 : 1, deadline);
    if (ready < 0) return End::kLost;
    if (stop >= 0 && watched[1].revents != 0) return End::kStopped;
    if (ready == 0) return End::kTimedOut;
    const ssize_t written = sendmsg(fd_, &message, MSG_NOSIGNAL);
    if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return End::kLost;
    if (written > 0) {
      message.msg_control = nullptr;
      message.msg_controllen = 0;
    }
    for (size_t left = written > 0 ? static_cast<size_t>(written) : 0; message.msg_iovlen > 0;) {
      iovec& piece = message.msg_iov[0];
      if (left < piece.iov_len) {
        piece.iov_base = static_cast<char*>(piece.iov_base) + left;
        piece.iov_len -= left;
        break;
      }
      left -= piece.iov_len;
      ++message.msg_iov;
      --message.msg_iovlen;
    }
    if (message.msg_iovlen == 0) return End::kDone;
  }
}

template <typename Done>
ServerConnection::End ServerConnection::ReadUntil(Done done, uint64_t deadline, int stop) {
  char buffer[65536];
  try {
    for (bool first = true;; first = false) {
      // The whole packets read so far, up to the one awaited: what comes
      // after it (a request for the stream just made) waits until the
      // caller knows the stream. A header is judged before its length is
      // added to anything.
      size_t handled = 0;
      bool finished = done();
      while (!finished && input_.size() - handled >= kHeaderSize) {
        const char* header = input_.data() + handled;
        if (!HeaderAllowed(header)) return Lose();
        const size_t size = ReadBe32(header);
        if (input_.size() - handled - kHeaderSize < size) break;
        Handle(ReadBe32(header + 4), std::string_view(input_).substr(handled + kHeaderSize, size));
        handled += kHeaderSize + size;
        finished = done();
      }
      input_.erase(0, handled);
      if (finished) return End::kDone;
      if (stream_lost_) return End::kLost;
      // Every pass looks at the clock and the stop descriptor, also while
      // the server keeps talking; what is there at the start is read even
      // past the deadline.
      if (!first && ClockMilliseconds() >= deadline) return End::kTimedOut;
      pollfd watched[2] = {{fd_, POLLIN, 0}, {stop, POLLIN, 0}};
      const int ready = PollUntil(watched, stop >= 0 ? 2 : 1, deadline);
      if (ready < 0) return End::kLost;
      if (stop >= 0 && watched[1].revents != 0) return End::kStopped;
      if (ready == 0) return End::kTimedOut;
      // Never more than the rest of one packet of the largest size.
      const size_t room = kHeaderSize + kMaxPacketSize - input_.size();
      const ssize_t got = recv(fd_, buffer, std::min(sizeof buffer, room), 0);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) return End::kLost;
      if (got > 0) input_.append(buffer, static_cast<size_t>(got));
    }
  } catch (const std::exception&) {
    // No room for what the server sent: the connection cannot go on.
    return Lose();
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
  if (command == kRequest && values.U32(&stream) && values.U32(&bytes) && stream == channel_) {
    requested_ += std::min<size_t>(bytes, SIZE_MAX - requested_);
  }
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
    stream_sink_ = sink;
  }
}
