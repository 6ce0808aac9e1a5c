// Process-wide services against the real system: text storage, the error
// mode around a guarded call, the clock.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>

#include "platform/guarded_call.h"
#include "platform/platform.h"
#include "text/text.h"

namespace {

TEST(TextStorageTest, IsAnAutomationStringOfTheSizeAsked) {
  for (const uint32_t size : {1u, 2u, 3u, 13u, 4096u, 1u << 20}) {
    SCOPED_TRACE(size);
    void* storage = platform::AllocateTextStorage(size);
    ASSERT_NE(storage, nullptr);
    EXPECT_EQ(SysStringByteLen(static_cast<BSTR>(storage)), size);
    std::memset(storage, 0xA5, size);  // every byte is ours to fill
    platform::ReleaseTextStorage(storage);
  }
}

TEST(TextStorageTest, FailsQuietlyWhenNoneCanBeHad) {
  // Near 4 GB a byte count plus the string's own header wraps round.
  for (const uint32_t size : {0x7FFFFFF0u, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    EXPECT_EQ(platform::AllocateTextStorage(size), nullptr) << size;
  }
  platform::ReleaseTextStorage(nullptr);
}

TEST(TextStorageTest, CarriesTextValues) {
  const Text joined = JoinText(Text::FromLiteral("status \"ding.wav\""), Text::FromLiteral(" mode"));
  EXPECT_STREQ(ToSystemText(joined), "status \"ding.wav\" mode");
  EXPECT_EQ(ToSystemText(Text()), nullptr);
}

int FailWithError(DWORD error) {
  SetLastError(error);
  return static_cast<int>(GetErrorMode());
}

// Inside a guarded call the system must not prompt; outside, the process
// keeps the mode it had, whatever that was.
TEST(ErrorPromptsTest, SwitchedOffOnlyForTheCall) {
  const UINT original = GetErrorMode();
  for (const UINT before : {0u, static_cast<UINT>(SEM_NOGPFAULTERRORBOX),
                            static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)}) {
    SCOPED_TRACE(before);
    SetErrorMode(before);
    const auto call = GuardedSystemCall(FailWithError, static_cast<DWORD>(ERROR_NOT_READY));
    EXPECT_EQ(static_cast<UINT>(call.result), static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    EXPECT_TRUE(call.failed);
    EXPECT_EQ(call.error, static_cast<uint32_t>(ERROR_NOT_READY));
    EXPECT_EQ(GetErrorMode(), before);
  }
  SetErrorMode(original);
}

TEST(ErrorPromptsTest, ALeftoverErrorValueIsCleared) {
  SetLastError(ERROR_ACCESS_DENIED);
  const auto call = GuardedSystemCall(GetCurrentProcessId);
  EXPECT_FALSE(call.failed);
}

TEST(ClockTest, FollowsRealTime) {
  const uint64_t start = platform::MonotonicMilliseconds();
  Sleep(100);
  const uint64_t waited = platform::MonotonicMilliseconds() - start;
  EXPECT_GE(waited, 80u);  // the tick may be as coarse as 16 ms
  EXPECT_LT(waited, 2000u);
}

}  // namespace
