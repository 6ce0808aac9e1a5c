// Threads for the calls that may block for ever, and the events that hand
// their results back.
//
// A sound server that is frozen, or that accepts a connection and never
// answers, can hold an ALSA call for tens of seconds or for ever; a file on
// a mount that has stopped answering can hold a read as long. Such calls
// therefore run on a thread of their own, one after another in the order
// they were posted, and the main thread, which must hear Esc and signals at
// all times, waits for them only as long as it chooses. The threads block
// every signal.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

// One thread and its queue of jobs. Its owner holds it as a member and is
// the only one to post to it: the sound output (pcm_output.h) for every ALSA
// call, the file opener (sound_file.h) for opening sound files. The thread
// is started by the first Post and never joined: at exit it may be inside a
// call that does not return, so the object must outlive it and is never
// destroyed once started.
class SoundThread {
 public:
  SoundThread() = default;
  SoundThread(const SoundThread&) = delete;
  SoundThread& operator=(const SoundThread&) = delete;

  // Queues `job` to run after the jobs posted before it, starting the thread
  // on first use. False when no thread can be had.
  bool Post(std::function<void()> job);

  // True when every job posted so far has finished. Everything those jobs
  // did happens before this returns true (the queue's mutex hands it over).
  bool Done();

  // Blocks until every job posted so far has finished or `timeout_ms` has
  // passed; true when they have finished.
  bool WaitDone(int timeout_ms);

 private:
  bool Start();
  void Run();

  // Everything below is guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::function<void()>> jobs_;
  unsigned long posted_ = 0;
  unsigned long finished_ = 0;
  bool started_ = false;
};

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
