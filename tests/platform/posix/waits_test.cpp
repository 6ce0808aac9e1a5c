// The one bounded wait.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "platform/platform.h"
#include "platform/posix/waits.h"

namespace {

TEST(WaitsTest, PollUntilReturnsAtItsDeadlineAndNotBefore) {
  int never[2];
  ASSERT_EQ(pipe(never), 0);
  pollfd watched = {never[0], POLLIN, 0};
  const uint64_t start = platform::MonotonicMilliseconds();
  EXPECT_EQ(PollUntil(&watched, 1, start + 30), 0);
  EXPECT_GE(platform::MonotonicMilliseconds() - start, 30u);
  // A wait that never ended would be ended by the timer, readable after a second.
  const int timer = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
  const itimerspec one_second = {{0, 0}, {1, 0}};
  ASSERT_EQ(timerfd_settime(timer, 0, &one_second, nullptr), 0);
  pollfd late = {timer, POLLIN, 0};
  EXPECT_EQ(PollUntil(&late, 1, start), 0) << "a deadline already past ends the wait at once";
  close(timer);
  close(never[0]);
  close(never[1]);
}

}  // namespace
