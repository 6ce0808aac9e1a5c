// Feeds arbitrary bytes, as what a sound server says, to a connection and
// to the driver over one: the framing, the packets handled and every reply
// the driver reads (the stream made, for a sound and for /V, the sink's
// description, the latency). Whatever the bytes, each call ends as soon as
// the server has said all it will, never at a deadline.
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "platform/posix/sound/server/protocol.h"
#include "platform/posix/sound/server/pulse_output.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/waits.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// A socket whose other end has said `data` and no more.
int Saying(const uint8_t* data, size_t size) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return -1;
  const bool said = write(ends[1], data, size) == static_cast<ssize_t>(size) && shutdown(ends[1], SHUT_WR) == 0;
  close(ends[1]);
  if (!said) close(ends[0]);
  return said ? ends[0] : -1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A connection lost is never made again to a real server.
  setenv("PULSE_SERVER", "unix:/nonexistent/peldo-fuzz", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The connection: the answer to the first call has tag 0; the stream is
  // on channel 0.
  const int socket = Saying(data, size);
  if (socket < 0) return 0;
  ServerConnection connection;
  connection.Attach(socket, protocol::kVersion);
  connection.Follow(0, 0, false, protocol::kNoIndex);
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
  connection.Close();

  // The driver, from the first byte on: /V (a stream made to learn the
  // sink, the sink's description), a sound of four channels, its feed and
  // tail, its drain. Each call ends well within its own bound.
  const int driver_socket = Saying(data, size);
  if (driver_socket < 0) return 0;
  const uint64_t start = platform::MonotonicMilliseconds();
  std::unique_ptr<OutputDriver> output = AttachPulseOutput(driver_socket, protocol::kVersion);
  output->SetVolume(0x80008000);
  if (output->Prepare(SoundFormat{48000, 4, true, {2, 3, 9, 10}, 0}, "fuzz") == 0) {
    long left = 64;
    FrameSource source;
    source.int16s = [&left](int16_t* out, long frames) {
      frames = std::min(left, frames);
      std::fill(out, out + frames * 4, int16_t{0});
      left -= frames;
      return frames;
    };
    output->Feed(source, -1);
  }
  output->Drain();
  Check(platform::MonotonicMilliseconds() - start < 2000);
  return 0;
}
