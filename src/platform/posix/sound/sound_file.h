// Opening a sound file for decoding with libsndfile.
#pragma once

#include <sndfile.h>
#include <sys/stat.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/worker.h"

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

// The speaker of each channel as the file names it (SF_CHANNEL_MAP_*
// values), or nothing when it names none.
std::vector<int> ChannelMap(SNDFILE* file, const SF_INFO& info);

// What opening a sound file gave: the decoder, with the sound's rate and
// channels in `info` and its channel map, or nullptr and a media error in
// `code`.
struct OpenedFile {
  SNDFILE* file = nullptr;
  SF_INFO info{};
  uint32_t code = 0;
  std::vector<int> channel_map;
};

// Opens sound files on a worker of its own, so that a folder or a file whose
// reads hang holds that thread and not the one that must hear Esc. Called on the main
// thread. A file the decoder found damaged or no sound is not decoded again
// while it stays the same (device, inode, size and change time): some
// decoders leak at every failed open. A read error or a lack of memory is
// not remembered. Its worker is never joined, so it is never destroyed.
class SoundFileOpener {
 public:
  SoundFileOpener() = default;
  SoundFileOpener(const SoundFileOpener&) = delete;
  SoundFileOpener& operator=(const SoundFileOpener&) = delete;
  ~SoundFileOpener() = delete;

  // Looks `name` up as files.h's ResolveExistingPath does, opens it and
  // reads its header, waiting through `wait` at most `timeout_ms`. kReady
  // with the result in *opened, whose decoder is the caller's
  // (kMediaFileNotFound for no such file, kMediaNotSound for a directory,
  // FIFO or device, kMediaFileUnreadable when the worker is stuck or cannot
  // be had); kEscPressed or kTimedOut when the wait gave up, and then a decoder
  // the open still makes is closed on the worker.
  WaitEnd Open(const std::string& name, DescriptorWait wait, int timeout_ms, OpenedFile* opened);

 private:
  // On the worker.
  void OpenOnWorker(const std::string& name);
  void OpenOnWorkerOrThrow(const std::string& name);

  Worker worker_;
  // The worker's until Await hands it over.
  OpenedFile answer_;

  // Worker only: the last file that failed, and how.
  struct stat failed_status_{};
  uint32_t failed_code_ = 0;
};
