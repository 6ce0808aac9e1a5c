// The worker's hand-off: a job given up on, and the undo run after it.
#include "platform/posix/worker.h"

#include <gtest/gtest.h>

#include <sched.h>
#include <signal.h>

#include <mutex>
#include <optional>

#include "platform/posix/waits.h"

namespace {

// A wait that gives up leaves the job running: what it makes is undone after
// it, and the worker takes no new job until both are done.
TEST(WorkerTest, GivenUpOnIsStuckUntilItsJobAndTheUndoHaveRun) {
  static Worker& worker = *new Worker;  // never destroyed, as in the player
  static std::mutex gate;
  static EventDescriptor undone;
  ASSERT_TRUE(undone.Open());
  gate.lock();
  const auto held = [] { return [] { const std::lock_guard held_until_the_test_lets_go(gate); }; };
  EXPECT_EQ(worker.Call(held, WaitForDescriptor, 20, [] { undone.Signal(); }), WaitEnd::kTimedOut);
  EXPECT_TRUE(worker.Stuck());
  EXPECT_FALSE(worker.Post([] {})) << "a stuck worker takes no job";
  EXPECT_EQ(worker.Call([] { return [] {}; }, WaitForDescriptor, 5000), std::nullopt) << "nor a call";
  gate.unlock();
  ASSERT_EQ(WaitForDescriptor(undone.Get(), 5000), WaitEnd::kReady);
  for (int tries = 0; tries < 5000 && worker.Stuck(); ++tries) WaitForDescriptor(-1, 1);
  EXPECT_TRUE(worker.Post([] {}));
  EXPECT_EQ(worker.Await(WaitForDescriptor, 5000), WaitEnd::kReady);
}

// Signals reach the main thread, whose waits they interrupt; a fault's
// reaches its handler on the worker that made it.
TEST(WorkerTest, AWorkerBlocksEverySignalButTheFaults) {
  static Worker& worker = *new Worker;
  static sigset_t mask;
  sigset_t ours;
  ASSERT_TRUE(worker.Post([] { pthread_sigmask(SIG_SETMASK, nullptr, &mask); }));
  ASSERT_EQ(worker.Await(WaitForDescriptor, 5000), WaitEnd::kReady);
  pthread_sigmask(SIG_SETMASK, nullptr, &ours);
  EXPECT_FALSE(sigismember(&ours, SIGINT)) << "the thread that started the worker has its own mask back";
  for (const int n : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS}) EXPECT_FALSE(sigismember(&mask, n)) << n;
  for (const int n : {SIGINT, SIGTERM, SIGHUP, SIGTSTP, SIGCONT, SIGTTOU, SIGRTMIN}) EXPECT_TRUE(sigismember(&mask, n)) << n;
}

// A worker whose caller waits starts on the caller's core, then takes back
// every core the process may use.
TEST(WorkerTest, AWorkerStartedByACallRunsOnEveryCore) {
  static Worker& worker = *new Worker;
  static cpu_set_t cores;
  cpu_set_t ours;
  ASSERT_EQ(sched_getaffinity(0, sizeof ours, &ours), 0);
  const auto record = [] { return [] { sched_getaffinity(0, sizeof cores, &cores); }; };
  ASSERT_EQ(worker.Call(record, WaitForDescriptor, 5000), WaitEnd::kReady);
  EXPECT_TRUE(CPU_EQUAL(&cores, &ours)) << CPU_COUNT(&cores) << " of " << CPU_COUNT(&ours);
}

}  // namespace
