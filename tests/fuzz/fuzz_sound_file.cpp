// Feeds arbitrary bytes, as the content of a sound file, through the open
// and decode steps the player uses. Whatever the bytes, the decoder either
// refuses them with one of the player's error codes or decodes frames until
// the sound ends.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/media_errors.h"
#include "platform/posix/sound_file.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A file in memory, so the decoder reads it through a descriptor as it
  // reads a file on disk.
  const int fd = memfd_create("sound", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  SF_INFO info{};
  uint32_t code = 0;
  SNDFILE* file = OpenSoundDecoder(fd, &info, &code);
  if (file == nullptr) {
    Check(MediaErrorText(code) != nullptr);
    return 0;
  }
  Check(info.channels > 0 && info.samplerate > 0);
  constexpr long kBlockFrames = 256;
  std::vector<float> block(static_cast<size_t>(kBlockFrames) * static_cast<size_t>(info.channels));
  // A header may promise hours of sound; a bounded read is as good a test.
  for (long total = 0; total < 1000000;) {
    const long frames = DecodeFrames(file, block.data(), kBlockFrames);
    if (frames <= 0) break;
    Check(frames <= kBlockFrames);
    total += frames;
  }
  sf_close(file);
  return 0;
}
