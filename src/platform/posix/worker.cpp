#include "platform/posix/worker.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <exception>

#include "platform/posix/system.h"

bool Worker::Post(std::function<void()> job) { return Post(std::move(job), Start::kAnywhere); }

bool Worker::Post(std::function<void()> job, Start start) {
  std::lock_guard lock(mutex_);
  if (StuckLocked() || !idle_.Open() || (!started_ && !StartThread(start))) return false;
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
bool Worker::StartThread(Start start) {
  cpu_set_t here;
  CPU_ZERO(&here);
  const int core = start == Start::kOnThisCore ? sched_getcpu() : -1;
  take_back_cores_ = core >= 0 && core < CPU_SETSIZE && sched_getaffinity(0, sizeof cores_, &cores_) == 0;
  if (take_back_cores_) CPU_SET(core, &here);
  // The thread starts with the mask it is created under.
  const sigset_t mask = WorkerSignalMask();
  sigset_t previous;
  pthread_sigmask(SIG_SETMASK, &mask, &previous);
  started_ = CreateThread(take_back_cores_ ? &here : nullptr);
  if (!started_ && take_back_cores_) {
    // The core may have been taken from the process meanwhile.
    take_back_cores_ = false;
    started_ = CreateThread(nullptr);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  return started_;
}

bool Worker::CreateThread(const cpu_set_t* core) {
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) return false;
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const bool created = (core == nullptr || pthread_attr_setaffinity_np(&attributes, sizeof *core, core) == 0) &&
                       pthread_create(&thread, &attributes, &Worker::Begin, this) == 0;
  pthread_attr_destroy(&attributes);
  return created;
}

void* Worker::Begin(void* worker) {
  static_cast<Worker*>(worker)->Run();
  return nullptr;
}

void Worker::Run() {
  std::unique_lock lock(mutex_);
  if (take_back_cores_) sched_setaffinity(0, sizeof cores_, &cores_);
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
