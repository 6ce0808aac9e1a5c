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
#include <algorithm>
#include <string>

#include "platform/platform.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/feed.h"
#include "platform/posix/sound/server/server_connection.h"
#include "platform/posix/sound/server/server_output.h"
#include "platform/posix/sound/server/server_protocol.h"
#include "platform/posix/system.h"
#include "platform/posix/waits.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// A socket pair whose server's end (ends[1]) has said `data` and no more,
// and still takes what the client sends.
bool Saying(const uint8_t* data, size_t size, int ends[2]) {
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return false;
  if (write(ends[1], data, size) == static_cast<ssize_t>(size) && shutdown(ends[1], SHUT_WR) == 0) return true;
  close(ends[0]);
  close(ends[1]);
  return false;
}

// What the server says to the driver: the bytes as messages, each a length
// byte, a kind byte and that many bytes: kind 0 answers the driver's next
// call with those values, kind 1 refuses it, any other kind is bytes as
// they are, framing and all (a request for samples, a stream moved).
std::string Conversation(const uint8_t* data, size_t size) {
  std::string said;
  uint32_t tag = 0;
  for (size_t i = 0; i + 2 <= size;) {
    const size_t length = std::min<size_t>(data[i], size - i - 2);
    const uint8_t kind = data[i + 1];
    const std::string values(reinterpret_cast<const char*>(data + i + 2), length);
    i += 2 + length;
    if (kind > 1) {
      said += values;
      continue;
    }
    TagWriter head;
    head.U32(kind == 0 ? protocol::kReply : protocol::kError);
    head.U32(tag++);
    for (const uint32_t word : {static_cast<uint32_t>(head.Bytes().size() + length), protocol::kCommandChannel, 0u, 0u, 0u}) {
      AppendBe32(&said, word);
    }
    said += head.Bytes() + values;
  }
  return said;
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
  int ends[2];
  if (!Saying(data, size, ends)) return 0;
  ServerConnection connection;
  connection.Attach(ends[0], protocol::kVersion);
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
  close(ends[1]);

  // The driver, over the same bytes read as a conversation: /V (a stream
  // made to learn the sink, the sink's description), a sound of four
  // channels, its feed and tail, its drain. Each call ends well within its
  // own bound.
  const std::string conversation = Conversation(data, size);
  if (!Saying(reinterpret_cast<const uint8_t*>(conversation.data()), conversation.size(), ends)) return 0;
  const uint64_t start = ClockMilliseconds();
  VolumeControl* volume = nullptr;
  std::unique_ptr<OutputDriver> output = AttachServerOutput(ends[0], protocol::kVersion, &volume);
  volume->SetVolume(0x80008000, DeadlineAfter(sound_bounds::kAnswerMs));
  const SoundFormat format{48000, 4, true, {2, 3, 9, 10}, 0};
  const Buffering buffering = BufferingFor(format, true);
  if (output->Open(format, buffering, "fuzz", DeadlineAfter(sound_bounds::kAnswerMs)) == 0) {
    long left = 64;
    FrameSource source;
    source.int16s = [&left](int16_t* out, long frames) {
      frames = std::min(left, frames);
      std::fill(out, out + frames * 4, int16_t{0});
      left -= frames;
      return frames;
    };
    FeedLoop loop;
    loop.Play(*output, format, source, -1);
  }
  output->Drain(DeadlineAfter(sound_bounds::kAnswerMs));
  Check(ClockMilliseconds() - start < 2000);
  close(ends[1]);
  return 0;
}
