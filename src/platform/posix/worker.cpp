#include "platform/posix/worker.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <exception>
#include <thread>

#include "platform/posix/system.h"

bool Worker::Post(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  if (StuckLocked() || !idle_.Open() || (!started_ && !Start())) return false;
  try {
    jobs_.push_back(std::move(job));
  } catch (const std::exception&) {
    return false;
  }
  ++posted_;
  idle_.Clear();
  changed_.notify_all();
  return true;
}

WaitEnd Worker::Await(DescriptorWait wait, int timeout_ms, std::function<void()> undo) {
  {
    std::lock_guard lock(mutex_);
    if (IdleLocked()) return WaitEnd::kReady;
  }
  const WaitEnd end = wait(idle_.Get(), timeout_ms);
  std::lock_guard lock(mutex_);
  // Finished after all, however the wait ended: the answer is there.
  if (IdleLocked()) return WaitEnd::kReady;
  given_up_ = true;
  if (undo) {
    try {
      jobs_.push_back(std::move(undo));
      ++posted_;
      changed_.notify_all();
    } catch (const std::exception&) {
    }
  }
  return end == WaitEnd::kReady ? WaitEnd::kTimedOut : end;
}

bool Worker::Stuck() {
  std::lock_guard lock(mutex_);
  return StuckLocked();
}

bool Worker::StuckLocked() {
  if (given_up_ && IdleLocked()) given_up_ = false;
  return given_up_;
}

// Called with the lock held.
bool Worker::Start() {
  // The thread starts with the mask it is created under.
  const sigset_t mask = WorkerSignalMask();
  sigset_t previous;
  pthread_sigmask(SIG_SETMASK, &mask, &previous);
  try {
    std::thread(&Worker::Run, this).detach();
    started_ = true;
  } catch (const std::exception&) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started_;
}

void Worker::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !jobs_.empty(); });
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    // Jobs catch what they throw; should one not, the thread and its queue
    // live on rather than the process ending.
    try {
      job();
    } catch (...) {
    }
    job = nullptr;
    lock.lock();
    ++finished_;
    if (IdleLocked()) idle_.Signal();
  }
}

EventDescriptor::~EventDescriptor() {
  if (fd_ >= 0) close(fd_);
}

bool EventDescriptor::Open() {
  if (fd_ < 0) fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  return fd_ >= 0;
}

void EventDescriptor::Signal() const {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = write(fd_, &one, sizeof one);
}

void EventDescriptor::Clear() const {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t taken = read(fd_, &count, sizeof count);
}
