// One system call with the system's error prompts switched off, judged by the
// thread's error value instead of by the call's own result.
#pragma once

#include <cstdint>
#include <utility>

#include "platform/platform.h"

// What a guarded call gives back: the function's own result, unchanged, and
// whether the error value read right after the call was non-zero.
template <typename Result>
struct GuardedResult {
  Result result;
  bool failed;
  uint32_t error;
};

// The process-wide call lock: taken by an atomic exchange, released by a
// plain store. Calls never nest, so with one thread it is never contended.
void TakeCallLock();
void ReleaseCallLock();

template <typename Function, typename... Arguments>
auto GuardedSystemCall(Function function, Arguments... arguments)
    -> GuardedResult<decltype(function(arguments...))> {
  TakeCallLock();
  const uint32_t saved_prompts = platform::SuppressErrorPrompts();
  platform::ClearSystemError();
  auto result = function(arguments...);
  const uint32_t error = platform::SystemError();
  platform::RestoreErrorPrompts(saved_prompts);
  ReleaseCallLock();
  return {std::move(result), error != 0, error};
}
