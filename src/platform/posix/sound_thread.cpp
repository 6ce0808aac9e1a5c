#include "platform/posix/sound_thread.h"

#include <signal.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>

namespace {

class SoundThread {
 public:
  bool Post(std::function<void()> job) {
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

  bool Done() {
    std::lock_guard lock(mutex_);
    return finished_ == posted_;
  }

  bool WaitDone(int timeout_ms) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [this] { return finished_ == posted_; });
  }

 private:
  // Called with the lock held.
  bool Start() {
    // Signals go to the main thread, whose waits they are meant to interrupt.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
      // Never joined: at exit it may be inside a call that does not return.
      std::thread(&SoundThread::Run, this).detach();
      started_ = true;
    } catch (const std::exception&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started_;
  }

  void Run() {
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

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  unsigned long posted_ = 0;
  unsigned long finished_ = 0;
  bool started_ = false;
};

// Never destroyed, like the thread that uses it.
SoundThread& Thread() {
  static SoundThread* const thread = new SoundThread;
  return *thread;
}

}  // namespace

bool PostSoundJob(std::function<void()> job) { return Thread().Post(std::move(job)); }

bool SoundJobsDone() { return Thread().Done(); }

bool WaitForSoundJobs(int timeout_ms) { return Thread().WaitDone(timeout_ms); }
