// A thread for the calls that may block for ever, and the one way the main
// thread hands it work and waits for it.
//
// A sound server that is frozen, or that accepts a connection and never
// answers, can hold an ALSA call for tens of seconds or for ever; a file on
// a mount that has stopped answering can hold a read as long. Such calls
// therefore run on a worker, one after another in the order they were
// posted, and the main thread, which must hear Esc and signals at all times,
// waits for them only as long as it chooses. Workers block every signal but
// those of a fault, which must reach their handler on the thread that made
// it (terminal/terminal.h).
#pragma once

#include <sched.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/posix/waits.h"

// An eventfd that one thread signals and another polls; closed with its
// owner. Open() makes it when it is not there yet; Get() is -1 until then.
class EventDescriptor {
 public:
  EventDescriptor() = default;
  EventDescriptor(const EventDescriptor&) = delete;
  EventDescriptor& operator=(const EventDescriptor&) = delete;
  ~EventDescriptor();

  bool Open();
  int Get() const { return fd_; }
  void Signal() const;
  void Clear() const;

 private:
  int fd_ = -1;
};

// One thread and its queue of jobs. Its owners post to it and wait for it
// only on the main thread, one at a time: the sound output (output.h) for
// every call to the output; the file system's worker (files.h), which the
// directory search and the opener of sound files share. The thread is
// started by the first Post and never joined: at exit it may be inside a
// call that does not return, so the object must outlive it and is never
// destroyed once started.
//
// The protocol: post a job, then Await it with a bound and, where Esc must
// be heard, the keys watched; Call does both. A wait that ends before the
// jobs do gives them up: whatever they make is undone on the worker, and the
// worker is stuck, taking no new job, until they have finished.
class Worker {
 public:
  Worker() = default;
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Queues `job` to run after the jobs posted before it, starting the thread
  // on first use. False, with nothing queued, while the worker is stuck or
  // when no thread can be had.
  bool Post(std::function<void()> job);

  // Waits through `wait` at most `timeout_ms` for every job posted so far.
  // kReady: they have finished, and everything they did is the caller's to
  // see (the queue's mutex hands it over). Otherwise the caller gives them
  // up: `undo`, when given, is queued to run after them, and the worker is
  // stuck until all of it is done.
  WaitEnd Await(DescriptorWait wait, int timeout_ms, std::function<void()> undo = {});

  // The hand-off in one call: posts the job that `make_job` returns, then
  // Awaits it as above. `make_job` runs here, inside the catch, so the copies
  // the job takes (a name, a format) are made where a lack of memory is
  // caught. nullopt when nothing could be posted (the worker stuck, no
  // thread, no memory): then nothing runs and there is nothing to undo.
  template <typename MakeJob>
  std::optional<WaitEnd> Call(MakeJob make_job, DescriptorWait wait, int timeout_ms,
                              std::function<void()> undo = {}) {
    if (!Give(make_job, Start::kOnThisCore)) return std::nullopt;
    return Await(wait, timeout_ms, std::move(undo));
  }

  // Posts the job that `make_job` returns, for a caller that does not wait
  // for it; false as Call's nullopt.
  template <typename MakeJob>
  bool Hand(MakeJob make_job) {
    return Give(make_job, Start::kAnywhere);
  }

  // True while jobs that were given up on still run.
  bool Stuck();

 private:
  // Where the thread starts. A caller that waits for its job at once frees
  // its own core for it; the kernel would put a new thread on the core that
  // looks least loaded, which on a busy machine is one where it waits out a
  // whole time slice of other work before it first runs. Once running, the
  // thread takes back every core the process may use.
  enum class Start { kAnywhere, kOnThisCore };

  template <typename MakeJob>
  bool Give(MakeJob& make_job, Start start) {
    try {
      return Post(make_job(), start);
    } catch (const std::exception&) {
      return false;
    }
  }
  bool Post(std::function<void()> job, Start start);
  bool StartThread(Start start);
  // A detached thread running Run, on `core` when one is given.
  bool CreateThread(const cpu_set_t* core);
  static void* Begin(void* worker);
  void Run();
  bool IdleLocked() const { return finished_ == posted_; }
  bool StuckLocked();

  // Everything below is guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  unsigned long posted_ = 0;
  unsigned long finished_ = 0;
  bool started_ = false;
  bool given_up_ = false;  // a wait ended before the jobs it waited for
  EventDescriptor idle_;   // signalled when the last job posted has finished
  // The cores the thread takes back once it runs, when it started on one.
  cpu_set_t cores_{};
  bool take_back_cores_ = false;
};
