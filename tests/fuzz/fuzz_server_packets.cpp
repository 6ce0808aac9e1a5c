// Feeds arbitrary bytes, as what a sound server says, to a connection: its
// framing, the packets it handles and the values it reads in them. Whatever
// the bytes, a call and the waits after it end as soon as the server has
// said all it will, never at the deadline.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/waits.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The server's end says the bytes and no more; the connection's end reads them.
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return 0;
  ServerConnection connection;
  connection.Attach(ends[0], protocol::kVersion);
  if (write(ends[1], data, size) != static_cast<ssize_t>(size) || shutdown(ends[1], SHUT_WR) != 0) {
    close(ends[1]);
    return 0;
  }
  // The answer to the first call has tag 0; the stream is on channel 0.
  connection.Follow(0, 0, false);
  std::string reply;
  using End = ServerConnection::End;
  End end = connection.Call(protocol::kGetPlaybackLatency, TagWriter(), DeadlineAfter(5000), -1, &reply);
  // Each wait that ends early has handled at least one packet.
  for (size_t waits = 0; end != End::kLost && waits <= size; ++waits) {
    Check(end != End::kTimedOut && end != End::kStopped);
    connection.Took(connection.Requested());
    end = connection.Wait(DeadlineAfter(5000), -1);
  }
  Check(end == End::kLost);
  close(ends[1]);
  return 0;
}
