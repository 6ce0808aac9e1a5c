// A connection to a sound server that speaks the PulseAudio protocol
// (PulseAudio itself, or PipeWire through pipewire-pulse), over its local
// socket, spoken here directly: the client library and what it brings (X11,
// D-Bus, systemd) would cost more than the whole rest of a short sound.
// Only what the sound output needs: authentication, one playback stream fed
// with samples inside the protocol's packets (no shared memory), its
// latency, and the default sink's volume. Nothing blocks: the connection is
// made without waiting, and every pass of every read and send looks at the
// clock and polls the socket with the stop descriptor, so that a server
// that floods, drips or lies ends a call by its deadline. What the server
// sends is bounded as the servers bound it: one packet of at most
// protocol::kMaxPacketSize is held at a time. On the sound thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/sound/server/server_settings.h"
#include "platform/posix/sound/server/server_protocol.h"

// How the server answered a connection.
enum class ServerAnswer {
  kReady,   // it answered: its driver plays on it
  kNone,    // there is no server (no socket, or nobody listens): known at once
  kSilent,  // one is there but did not answer in time
  kRefused,  // one is there and refused the program access (a wrong cookie)
};

class ServerConnection {
 public:
  // How a call or a wait ended.
  enum class End { kDone, kRefused, kStopped, kTimedOut, kLost };

  ServerConnection() = default;
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;
  ~ServerConnection() { Close(); }

  // Connects to the first of `settings`' sockets whose server answers
  // and introduces the program. kNone at once when there
  // is no such socket, nobody listens, or every server turns the program
  // away (kRefused when one of them refused it access); kSilent when one is
  // there but does not answer by `deadline`, or takes no more connections
  // until then.
  ServerAnswer Open(const ServerSettings& settings, uint64_t deadline);
  // Introduces the program on the socket just connected or attached: the
  // settings' cookie with the process's credentials, then its name and
  // properties once the version is agreed. Hangs up unless kReady.
  ServerAnswer Introduce(const ServerSettings& settings, uint64_t deadline);
  // Speaks over `socket`, a connected non-blocking stream socket whose
  // other end is a server that has already let the program in, at
  // `version` (one end of a socket pair, for tests and the fuzzer).
  void Attach(int socket, uint32_t version);
  // Hangs up: the server drops the stream and what it holds at once. A
  // server that breaks the protocol's framing is hung up on too (kLost).
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

  // Sends a command (written after its number and tag) and waits for the
  // answer: kDone with the reply's values in *reply, kRefused with the
  // server's error code in *error.
  End Call(uint32_t command, const TagWriter& values, uint64_t deadline, int stop, std::string* reply,
           uint32_t* error = nullptr);
  // Sends samples on the stream's channel.
  End Send(uint32_t channel, const char* data, size_t size, uint64_t deadline, int stop);
  // Takes what the server says until `deadline` (or the stop descriptor):
  // kDone when it asks for more samples or the stream is suspended or
  // resumed, kLost when the stream is gone.
  End Wait(uint64_t deadline, int stop);

  // The protocol version both sides speak: the lower of theirs; 0 while
  // not connected.
  uint32_t Version() const { return version_; }

  // Follows the stream on `channel` once the server has made it: what it
  // has asked for and not yet been sent, whether its sink is suspended, and
  // which sink that is. The server tells of all three unasked; Wait returns
  // when what it asked for or the suspension changes.
  void Follow(uint32_t channel, size_t requested, bool suspended, uint32_t sink);
  size_t Requested() const { return requested_; }
  void Took(size_t size) { requested_ -= std::min(size, requested_); }
  bool StreamLost() const { return stream_lost_; }
  bool StreamSuspended() const { return stream_suspended_; }
  // The index of the sink the stream plays on, as the server last said;
  // protocol::kNoIndex when it did not say.
  uint32_t StreamSink() const { return stream_sink_; }

 private:
  // How a try to reach a server's socket ended.
  enum class Reached { kConnected, kFull, kNone };
  Reached Connect(const std::string& path);
  // Sends one packet on `channel`: a header, then `head` and `body`; with
  // the process's credentials when `credentials` is set.
  End SendPacket(uint32_t channel, std::string_view head, std::string_view body, uint64_t deadline, int stop,
                 bool credentials = false);
  End Call(uint32_t command, const TagWriter& values, uint64_t deadline, int stop, std::string* reply,
           uint32_t* error, bool credentials);
  // Reads and handles packets until `done()` or the wait ends.
  template <typename Done>
  End ReadUntil(Done done, uint64_t deadline, int stop);
  void Handle(uint32_t channel, std::string_view packet);
  End Lose();

  int fd_ = -1;
  uint32_t version_ = 0;
  uint32_t next_tag_ = 0;
  std::string input_;  // bytes read and not yet handled: at most one packet and its header
  // The answer being waited for.
  uint32_t awaited_tag_ = 0;
  bool answered_ = false;
  bool refused_ = false;
  uint32_t error_ = 0;
  std::string reply_;
  // The stream.
  uint32_t channel_ = UINT32_MAX;
  size_t requested_ = 0;
  bool stream_lost_ = false;
  bool stream_suspended_ = false;
  uint32_t stream_sink_ = UINT32_MAX;
};
