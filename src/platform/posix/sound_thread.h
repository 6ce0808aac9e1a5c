// The thread that makes every call into ALSA and the sound server behind it.
//
// A sound server that is frozen, or that accepts a connection and never
// answers, can hold an ALSA call for tens of seconds or for ever. Such calls
// therefore run here, one after another in the order they were posted, and
// the main thread, which must hear Esc and signals at all times, waits for
// them only as long as it chooses. The thread blocks every signal.
#pragma once

#include <functional>

// Queues `job` to run on the sound thread after the jobs posted before it,
// starting the thread on first use. False when no thread can be had.
bool PostSoundJob(std::function<void()> job);

// True when every job posted so far has finished.
bool SoundJobsDone();

// Blocks until every job posted so far has finished or `timeout_ms` has
// passed; true when they have finished.
bool WaitForSoundJobs(int timeout_ms);
