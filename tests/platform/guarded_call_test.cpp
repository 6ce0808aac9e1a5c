// The guarded call judges by the error value, not by the function's result.
#include <gtest/gtest.h>

#include "fake_platform.h"
#include "platform/guarded_call.h"

namespace {

int SucceedsButSetsError(int value) {
  Fake().system_error = 5;
  return value;
}
int FailsQuietly(int) { return -1; }

TEST(GuardedCallTest, FlagFollowsTheErrorValue) {
  ResetFake();
  Fake().system_error = 99;  // left over from before: cleared by the guard
  const auto quiet = GuardedSystemCall(FailsQuietly, 1);
  EXPECT_EQ(quiet.result, -1);
  EXPECT_FALSE(quiet.failed);
  const auto noisy = GuardedSystemCall(SucceedsButSetsError, 7);
  EXPECT_EQ(noisy.result, 7);
  EXPECT_TRUE(noisy.failed);
  EXPECT_EQ(noisy.error, 5u);
  EXPECT_EQ(Fake().prompts_suppressed, 0);
}

}  // namespace
