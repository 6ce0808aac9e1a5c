// Runs the built-in WAV reader and libsndfile on the same bytes: where the
// built-in reader takes a file, libsndfile opens it too and both give the
// same rate, channels, length and channel map, and the same frames, bit for
// bit, as floats and, read again from the start, as 16-bit integers.
#include <sndfile.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/posix/sound/decode/wav_reader.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// Reads both to their end, a block at a time, and compares.
template <typename Sample, typename ReadTheirs>
void CompareFrames(SoundDecoder& ours, ReadTheirs read_theirs, unsigned channels) {
  constexpr long kBlockFrames = 300;
  std::vector<Sample> mine(kBlockFrames * channels);
  std::vector<Sample> theirs(kBlockFrames * channels);
  for (long total = 0; total < 1000000;) {
    const long got = ours.Decode(mine.data(), kBlockFrames);
    const long expected = read_theirs(theirs.data(), kBlockFrames);
    Check(got == expected || (got <= 0 && expected <= 0));
    if (got <= 0) break;
    Check(std::memcmp(mine.data(), theirs.data(), static_cast<size_t>(got) * channels * sizeof(Sample)) == 0);
    total += got;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("sound", MFD_CLOEXEC);
  if (fd < 0) return 0;
  if (write(fd, data, size) != static_cast<ssize_t>(size)) {
    close(fd);
    return 0;
  }
  SoundFormat format;
  int read_error = 0;
  std::unique_ptr<SoundDecoder> ours = OpenWavDecoder(fd, &format, &read_error);
  Check(read_error == 0);
  if (ours == nullptr) {
    close(fd);
    return 0;
  }
  // A descriptor of libsndfile's own, at the start of the file.
  const int their_fd = dup(fd);
  Check(their_fd >= 0 && lseek(their_fd, 0, SEEK_SET) == 0);
  SF_INFO info{};
  SNDFILE* file = sf_open_fd(their_fd, SFM_READ, &info, SF_TRUE);
  Check(file != nullptr);
  Check(info.samplerate == static_cast<int>(format.rate) && info.channels == static_cast<int>(format.channels));
  Check(info.frames == static_cast<sf_count_t>(format.frames));
  std::vector<int> map(format.channels);
  const bool has_map = sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                                  static_cast<int>(map.size() * sizeof(int))) == SF_TRUE;
  Check(has_map ? map == format.channel_map : format.channel_map.empty());

  CompareFrames<float>(*ours, [file](float* out, long frames) { return sf_readf_float(file, out, frames); },
                       format.channels);
  Check(ours->Rewind() && sf_seek(file, 0, SEEK_SET) == 0);
  CompareFrames<int16_t>(*ours, [file](int16_t* out, long frames) { return sf_readf_short(file, out, frames); },
                         format.channels);
  sf_close(file);
  return 0;
}
