#include "platform/guarded_call.h"

#include <atomic>

namespace {
std::atomic<int32_t> call_lock{0};
}  // namespace

void TakeCallLock() {
  // Spins rather than sleeps: the lock is held only across one system call.
  while (call_lock.exchange(-1, std::memory_order_acquire) != 0) {
  }
}

void ReleaseCallLock() { call_lock.store(0, std::memory_order_release); }
