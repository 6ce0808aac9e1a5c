// The one bounded wait.
#include <gtest/gtest.h>
#include <poll.h>
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
  close(never[0]);
  close(never[1]);
}

}  // namespace
