// The one bounded wait that every wait of the program comes down to.
#include "platform/posix/waits.h"

#include <cerrno>
#include <climits>

#include "platform/platform.h"
#include "platform/posix/system.h"

uint64_t DeadlineAfter(int timeout_ms) {
  return ClockMilliseconds() + static_cast<uint64_t>(timeout_ms > 0 ? timeout_ms : 0);
}

int PollUntil(pollfd* watched, nfds_t count, uint64_t deadline) {
  for (;;) {
    const uint64_t now = ClockMilliseconds();
    // A deadline too far to count in an int is no deadline.
    const uint64_t span = now >= deadline ? 0 : deadline - now;
    const int left = span > static_cast<uint64_t>(INT_MAX) ? -1 : static_cast<int>(span);
    const int ready = poll(watched, count, left);
    if (ready >= 0 || errno != EINTR) return ready;
  }
}

WaitEnd WaitForDescriptor(int descriptor, int timeout_ms) {
  pollfd watched = {descriptor, POLLIN, 0};
  return PollUntil(&watched, 1, DeadlineAfter(timeout_ms)) > 0 ? WaitEnd::kReady : WaitEnd::kTimedOut;
}
