// Decoding on POSIX: opening a sound file and reading its frames, by the
// built-in WAV reader (wav_reader.h) or by libsndfile, loaded the first time
// a file needs it (sndfile_library.h). Files are opened on the file
// system's worker (files.h, SoundFileOpener); a decoder is then read by one thread at a
// time, the sound thread while it plays. Calls only the libraries, the
// system and the files room.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/files/files.h"
#include "platform/posix/sound/decode/sndfile_library.h"
#include "platform/posix/sound/driver.h"
#include "platform/posix/worker.h"

// Opens `path` for reading without blocking on it and makes sure it is a
// regular file: the name may have been swapped for a FIFO or a device since
// it was looked at. The descriptor, with what fstat() says of it in *status,
// or -1 with the media error in *code.
int OpenRegularFile(const std::string& path, struct stat* status, uint32_t* code);

// A sound being decoded, whichever reader does it: the built-in one for
// plain WAV files (wav_reader.h) or libsndfile for everything else. It holds
// the file open until it is destroyed. Used by one thread at a time.
class SoundDecoder {
 public:
  virtual ~SoundDecoder() = default;
  // Decodes up to `frames` frames into `out` as interleaved samples, floats
  // in -1..1 or 16-bit integers; 0 or less at the end of the sound.
  virtual long Decode(float* out, long frames) = 0;
  virtual long Decode(int16_t* out, long frames) = 0;
  // Goes back to the first frame; false when the file cannot be read there.
  virtual bool Rewind() = 0;
};

// The speakers a file of libsndfile's `format` (SF_FORMAT_* values) puts
// its `channels` channels on when it names none (SF_CHANNEL_MAP_* values):
// FLAC's order, Vorbis' (Opus' too) and, for the WAV family, the mask's
// order FL FR FC LFE BL BR SL SR; one channel is mono. Empty for other
// formats and past 8 channels, where no order is defined.
std::vector<int> FormatChannelOrder(int format, unsigned channels);

// Opens the sound held in the file `fd` for decoding, taking the descriptor
// over (it is closed on failure too): with the built-in reader when it takes
// the file, else with libsndfile, which `sndfile` loads (kMediaNoDecoder
// when it gives nullptr). Returns the decoder, with the sound's rate,
// channels, sample width, channel map and length in *format, or nullptr
// with the media error in *code.
std::unique_ptr<SoundDecoder> OpenSoundDecoder(int fd, SoundFormat* format, uint32_t* code,
                                               const SndfileFunctions* (*sndfile)() = SndfileLibrary);

// What opening a sound file gave: the decoder and the sound's format, or
// nullptr and a media error in `code`.
struct OpenedFile {
  std::unique_ptr<SoundDecoder> decoder;
  SoundFormat format;
  uint32_t code = 0;
};

// Opens sound files on the file system's worker (files.h), so that a folder
// or a file whose reads hang holds that thread and not the one that must
// hear Esc. Called on the main thread. A file the decoder found damaged or no sound is not decoded again
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

  Worker& worker_ = FileSystemWorker();
  // The worker's until Await hands it over.
  OpenedFile answer_;

  // Worker only: the last file that failed, and how.
  struct stat failed_status_{};
  uint32_t failed_code_ = 0;
};
