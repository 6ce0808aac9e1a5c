// Sound output on POSIX: the main thread's side, and the drivers it hands the
// device to. The drivers fulfil driver.h, each in a folder of its own, and
// one feed loop (feed.h) plays every sound on whichever is chosen:
// alsa/ (ALSA's "default" device, or the one AUDIODEV names) and server/ (a
// server that speaks the PulseAudio protocol, PulseAudio itself or
// PipeWire). The first job on the sound thread picks one: ALSA when AUDIODEV names a device
// or no such server answers, the server otherwise.
//
// Every driver call runs on the sound thread, a Worker (worker.h) that the
// SoundOutput owns and alone posts to; the SoundOutput's public functions are
// called on the main thread and never wait for the driver longer than they
// say. Nothing a driver throws leaves the sound thread's jobs: an opening
// that throws answers with a media error (kMediaNoMemory when memory ran
// out), anything else closes the output. The driver's stream outlives the sounds played on it: after a sound
// has been queued whole it stays open and running, so the next sound with the
// same rate and channels follows the last sample without a gap.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/posix/sound/driver.h"
#include "platform/posix/sound/feed.h"
#include "platform/posix/sound/server/server_settings.h"
#include "platform/posix/waits.h"
#include "platform/posix/worker.h"

class SoundOutput {
 public:
  SoundOutput() = default;
  SoundOutput(const SoundOutput&) = delete;
  SoundOutput& operator=(const SoundOutput&) = delete;
  // The sound thread's jobs refer to this object and the thread is never
  // joined (a frozen server may hold it for ever): once made, a SoundOutput
  // lives until the process ends.
  ~SoundOutput() = delete;

  // Starts choosing the output on the sound thread (Choose): a sound server
  // is connected to and let in while the caller looks up and opens the
  // file, so that the first sound waits for the longer of the two. Returns
  // at once. Nothing waits for it: where no sound follows, the end of the
  // process cuts it short, a server that hangs included. Nothing at all
  // where AUDIODEV names an ALSA device.
  void Connect();

  // Makes the output ready (OutputDriver::Open), waiting through `wait`.
  // The sound thread gives up on the opening `timeout_ms` from now, and this
  // wait kHandOverMs later (bounds.h). kReady with 0 or a media error code in
  // *error (kMediaNoOutput when the sound thread is stuck or cannot be had);
  // kEscPressed or kTimedOut when the wait gave up, and then an output the
  // request still opens is closed again.
  WaitEnd Prepare(const SoundFormat& format, const std::string& name, DescriptorWait wait, int timeout_ms,
                  uint32_t* error);

  // Starts feeding the prepared output from `source` and returns at once.
  // Returns 0 or a media error code. From here until Finish returns true the
  // source and what it reads belong to the sound thread.
  uint32_t Start(FrameSource source);

  // True from Start until all but the last moment of the sound has played,
  // or the output failed.
  bool Feeding() const { return feeding_.load(std::memory_order_acquire); }

  // A descriptor that polls readable once feeding has ended, until the next
  // Start; -1 before the first Start.
  int EndDescriptor() const { return started_ ? end_event_.Get() : -1; }

  // Ends feeding. When the sound played to its end the output keeps playing
  // its tail and stays open for the next sound; when it was cut short (or
  // the output failed) what is queued is dropped and the output closed.
  // Waits a moment at most. True when the sound thread has let go of the
  // source: only then may the caller seek or close what it reads. False
  // when the thread did not finish in that time: it may still call the
  // source, which must then be left alone for the rest of the process.
  bool Finish();

  // Lets what is queued play out and closes the output, waiting through
  // `wait` (which gives up on Esc) for it; the sound thread gives up
  // `timeout_ms` from now, this wait kHandOverMs later, and it does not wait
  // at all while the sound thread is stuck.
  void Drain(int timeout_ms, DescriptorWait wait);

  // Sets the output's volume on the sound thread, after the jobs posted
  // before; returns at once.
  void SetVolume(uint32_t volume_word);

 private:
  // On the sound thread: the driver and its volume, picked by the first job
  // that opens the output or sets its volume, connecting by `deadline`;
  // until then, and while a server does not answer, one that has no output.
  // Closing and draining never connect.
  void Choose(uint64_t deadline);
  OutputDriver& CurrentDriver();
  void DropQuietly();
  void Feed(const FrameSource& source);

  Worker worker_;

  // Main thread only.
  bool started_ = false;  // a feed has been started since the last Finish
  bool used_ = false;  // a job has been posted: there may be a tail, or a volume being set

  // Hand-offs. The main thread makes the descriptors before it posts the
  // job that uses them. prepare_answer_ is the sound thread's until the
  // worker's Await hands it over. feeding_ is cleared (release) after the
  // feed's last call of the source and before end_event_ is signalled; the
  // worker's Await takes over everything the feed did.
  uint32_t prepare_answer_ = 0;
  std::atomic<bool> feeding_{false};
  EventDescriptor end_event_;   // the feed has ended
  EventDescriptor stop_event_;  // main -> sound thread: the feed must stop

  // Sound thread only.
  std::optional<ServerSettings> server_settings_;  // read at the first connect, for the whole run
  std::unique_ptr<OutputDriver> driver_;
  bool server_refused_ = false;  // the sound server turned the program away when the driver was chosen
  VolumeControl* volume_ = nullptr;  // driver_'s or a mixer's own
  SoundFormat format_;  // of the sound the output was opened for
  FeedLoop feed_loop_;
};
