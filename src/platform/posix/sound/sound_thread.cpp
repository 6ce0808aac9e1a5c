#include "platform/posix/sound/sound_thread.h"

#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <thread>

bool SoundThread::Post(std::function<void()> job) {
  std::lock_guard lock(mutex_);
  if (!started_ && !Start()) return false;
  try {
    jobs_.push_back(std::move(job));
  } catch (const std::exception&) {
    return false;
  }
  ++posted_;
  changed_.notify_all();
  return true;
}

bool SoundThread::Done() {
  std::lock_guard lock(mutex_);
  return finished_ == posted_;
}

bool SoundThread::WaitDone(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                           [this] { return finished_ == posted_; });
}

// Called with the lock held.
bool SoundThread::Start() {
  // Signals go to the main thread, whose waits they are meant to interrupt.
  sigset_t all;
  sigset_t previous;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &previous);
  try {
    std::thread(&SoundThread::Run, this).detach();
    started_ = true;
  } catch (const std::exception&) {
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started_;
}

void SoundThread::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !jobs_.empty(); });
    std::function<void()> job = std::move(jobs_.front());
    jobs_.pop_front();
    lock.unlock();
    job();
    job = nullptr;
    lock.lock();
    ++finished_;
    changed_.notify_all();
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
