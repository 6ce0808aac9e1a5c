// Opening a sound file for decoding with libsndfile.
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/posix/sound/sound_thread.h"

// Opens `path` for reading without blocking on it and makes sure it is a
// regular file: the name may have been swapped for a FIFO or a device since
// it was looked at. The descriptor, with what fstat() says of it in *status,
// or -1 with the media error in *code.
int OpenRegularFile(const std::string& path, struct stat* status, uint32_t* code);

// Opens the sound held in the file `fd` for decoding, taking the descriptor
// over (it is closed on failure too). Returns the decoder, with the sound's
// rate and channels in *info, or nullptr with the media error in *code.
SNDFILE* OpenSoundDecoder(int fd, SF_INFO* info, uint32_t* code);

// Whether the sound's samples have no more than 16 bits, so that 16-bit
// integers hold them whole.
bool HasAtMostSixteenBits(const SF_INFO& info);

// Decodes up to `frames` frames into `out` as interleaved samples, floats in
// -1..1 or 16-bit integers; 0 or less at the end of the sound.
long DecodeFrames(SNDFILE* file, float* out, long frames);
long DecodeFrames(SNDFILE* file, int16_t* out, long frames);

// What opening a sound file gave: the decoder, with the sound's rate and
// channels in `info`, or nullptr and a media error in `code`.
struct OpenedSound {
  SNDFILE* file = nullptr;
  SF_INFO info{};
  uint32_t code = 0;
};

// Opens sound files on a thread of its own, so that a file whose reads hang
// holds that thread and not the one that must hear Esc. Called on the main
// thread. A file that failed is not decoded again while it stays the same
// (device, inode, size and modification time): some decoders leak at every
// failed open. Its thread is never joined, so it is never destroyed.
class SoundFileOpener {
 public:
  SoundFileOpener() = default;
  SoundFileOpener(const SoundFileOpener&) = delete;
  SoundFileOpener& operator=(const SoundFileOpener&) = delete;
  ~SoundFileOpener() = delete;

  // Starts opening `path`; false when the thread is still held by an open
  // that was given up on, or cannot be had.
  bool Request(const std::string& path);
  // Polls readable once the answer is in.
  int AnswerDescriptor() const { return answered_.Get(); }
  // The answer, after AnswerDescriptor() polled readable; the decoder is
  // the caller's from then on.
  OpenedSound Take();
  // Stops waiting: a decoder the open still makes is closed on its thread.
  void GiveUp();

 private:
  // On the file thread.
  void Open(const std::string& path);

  SoundThread thread_;
  EventDescriptor answered_;
  bool held_ = false;  // main thread: an open was given up and may still run

  // Main thread and file thread: guarded by mutex_.
  std::mutex mutex_;
  std::optional<OpenedSound> answer_;
  bool given_up_ = false;

  // File thread only: the last file that failed, and how.
  struct stat failed_status_{};
  uint32_t failed_code_ = 0;
};
