// Feeds arbitrary bytes, as the content of a sound file, through the open
// and decode steps the player uses. Whatever the bytes, the decoder either
// refuses them with one of the player's error codes or decodes frames until
// the sound ends.
#include <sys/mman.h>
#include <sndfile.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/decode/sound_file.h"

namespace {

void Check(bool holds) {
  if (!holds) __builtin_trap();
}

// The decoders are the system's, built without coverage marks, so to the
// fuzzer every file looks alike and it would keep two or three of the
// eighteen seeds. A function of its own for each container and encoding that
// decoded makes it keep, and mutate, one file of each.
volatile int formats_seen = 0;
template <int Kind>
[[gnu::noinline]] void Seen() {
  formats_seen = Kind;
}

void NoteFormat(int format) {
  switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: Seen<1>(); break;
    case SF_FORMAT_AIFF: Seen<2>(); break;
    case SF_FORMAT_AU: Seen<3>(); break;
    case SF_FORMAT_W64: Seen<4>(); break;
    case SF_FORMAT_CAF: Seen<5>(); break;
    case SF_FORMAT_FLAC: Seen<6>(); break;
    case SF_FORMAT_OGG: Seen<7>(); break;
    case SF_FORMAT_MPEG: Seen<8>(); break;
    default: Seen<9>(); break;
  }
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8: Seen<10>(); break;
    case SF_FORMAT_PCM_16: Seen<11>(); break;
    case SF_FORMAT_PCM_24: Seen<12>(); break;
    case SF_FORMAT_PCM_32: Seen<13>(); break;
    case SF_FORMAT_FLOAT: Seen<14>(); break;
    case SF_FORMAT_ULAW: Seen<15>(); break;
    case SF_FORMAT_ALAW: Seen<16>(); break;
    case SF_FORMAT_IMA_ADPCM: Seen<17>(); break;
    case SF_FORMAT_MS_ADPCM: Seen<18>(); break;
    case SF_FORMAT_GSM610: Seen<19>(); break;
    case SF_FORMAT_ALAC_16: Seen<20>(); break;
    case SF_FORMAT_VORBIS: Seen<21>(); break;
    case SF_FORMAT_OPUS: Seen<22>(); break;
    case SF_FORMAT_MPEG_LAYER_III: Seen<23>(); break;
    default: Seen<24>(); break;
  }
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
  // What libsndfile makes of the bytes, for the fuzzer's sake only.
  SF_INFO info{};
  if (SNDFILE* probe = sf_open_fd(dup(fd), SFM_READ, &info, SF_TRUE)) {
    NoteFormat(info.format);
    sf_close(probe);
  }
  if (lseek(fd, 0, SEEK_SET) != 0) {
    close(fd);
    return 0;
  }
  SoundFormat format;
  uint32_t code = 0;
  std::unique_ptr<SoundDecoder> decoder = OpenSoundDecoder(fd, &format, &code);
  if (decoder == nullptr) {
    Check(MediaErrorText(code) != nullptr);
    return 0;
  }
  Check(format.channels > 0 && format.rate > 0);
  constexpr long kBlockFrames = 256;
  std::vector<float> block(static_cast<size_t>(kBlockFrames) * format.channels);
  // A header may promise hours of sound; a bounded read is as good a test.
  for (long total = 0; total < 1000000;) {
    const long frames = decoder->Decode(block.data(), kBlockFrames);
    if (frames <= 0) break;
    Check(frames <= kBlockFrames);
    total += frames;
  }
  return 0;
}
