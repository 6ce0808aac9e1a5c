// A WAV file's chunks are walked as libsndfile walks them, so that the
// sound's extent comes out the same: the end test before each chunk, the
// pad byte after an odd size, and a data size past the end of the file cut
// to the file. Chunks it would parse and could refuse, or read past, send
// the file to it; a LIST of plain INFO text (ffmpeg's tags) it skips whole.
#include "platform/posix/sound/decode/wav_reader.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace {

constexpr uint16_t kFormatPcm = 0x0001;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// KSDATAFORMAT_SUBTYPE_PCM as the file stores it.
constexpr uint8_t kPcmSubformat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// libsndfile refuses more channels.
constexpr unsigned kMostChannels = 1024;
// libsndfile reads everything but the samples into a buffer that it does not
// let grow past 100 kB; well under that, a header reads the same in both.
constexpr uint64_t kMostHeaderBytes = 16384;

// The speaker of each bit of an extensible file's channel mask, lowest first,
// as libsndfile names them.
constexpr int kMaskSpeakers[] = {
    SF_CHANNEL_MAP_LEFT, SF_CHANNEL_MAP_RIGHT, SF_CHANNEL_MAP_CENTER,
    SF_CHANNEL_MAP_LFE, SF_CHANNEL_MAP_REAR_LEFT, SF_CHANNEL_MAP_REAR_RIGHT,
    SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, SF_CHANNEL_MAP_REAR_CENTER,
    SF_CHANNEL_MAP_SIDE_LEFT, SF_CHANNEL_MAP_SIDE_RIGHT, SF_CHANNEL_MAP_TOP_CENTER,
    SF_CHANNEL_MAP_TOP_FRONT_LEFT, SF_CHANNEL_MAP_TOP_FRONT_CENTER, SF_CHANNEL_MAP_TOP_FRONT_RIGHT,
    SF_CHANNEL_MAP_TOP_REAR_LEFT, SF_CHANNEL_MAP_TOP_REAR_CENTER, SF_CHANNEL_MAP_TOP_REAR_RIGHT,
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
bool Is(const uint8_t* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

// Exactly `size` bytes at `offset`, or false, with the errno of a read that
// failed in *error (0 at the end of the file).
bool ReadAt(int fd, uint64_t offset, void* out, size_t size, int* error) {
  auto* bytes = static_cast<uint8_t*>(out);
  while (size > 0) {
    const ssize_t got = pread(fd, bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      *error = got < 0 ? errno : 0;
      return false;
    }
    bytes += got;
    offset += static_cast<uint64_t>(got);
    size -= static_cast<size_t>(got);
  }
  return true;
}

// Where the samples are and how they are laid out.
struct Layout {
  unsigned channels = 0;
  unsigned width = 0;  // bytes a sample
  uint64_t data_offset = 0;
  uint64_t frames = 0;
};

// The "fmt " chunk of `size` bytes at `offset`, when it is integer PCM this
// reader takes.
bool ReadFormat(int fd, uint64_t offset, uint32_t size, Layout* layout, SoundFormat* format, int* error) {
  uint8_t fmt[40];
  if (size < 16 || !ReadAt(fd, offset, fmt, 16, error)) return false;
  const uint16_t tag = Le16(fmt);
  const unsigned channels = Le16(fmt + 2);
  const uint32_t rate = Le32(fmt + 4);
  const unsigned block_align = Le16(fmt + 12);
  const unsigned bits = Le16(fmt + 14);
  if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (channels == 0 || channels > kMostChannels || block_align != channels * bits / 8) return false;
  if (rate == 0 || rate > INT32_MAX) return false;
  if (tag == kFormatExtensible) {
    if (size < 40 || !ReadAt(fd, offset + 16, fmt + 16, 24, error)) return false;
    if (std::memcmp(fmt + 24, kPcmSubformat, sizeof kPcmSubformat) != 0) return false;
    // libsndfile gives a map for any mask but 0: the speakers of its lowest
    // bits, one a channel, and "invalid" for channels it has no bit for.
    const uint32_t mask = Le32(fmt + 20);
    if (mask != 0) {
      format->channel_map.assign(channels, SF_CHANNEL_MAP_INVALID);
      unsigned channel = 0;
      for (unsigned bit = 0; bit < std::size(kMaskSpeakers) && channel < channels; ++bit) {
        if ((mask & (1u << bit)) != 0) format->channel_map[channel++] = kMaskSpeakers[bit];
      }
    }
  } else if (tag != kFormatPcm) {
    return false;
  }
  layout->channels = channels;
  layout->width = bits / 8;
  format->rate = rate;
  format->channels = channels;
  format->int16 = bits <= 16;
  return true;
}

// Whether the LIST chunk of `size` bytes at `offset` is one that libsndfile
// reads to its end and no further: INFO text whose entries fill it exactly,
// as ffmpeg and most editors write it. Markers it reads without a size,
// reads past, or backs out of send the file to it.
bool IsPlainInfoList(int fd, uint64_t offset, uint32_t size, int* error) {
  if (size < 4 || size > kMostHeaderBytes) return false;
  std::vector<uint8_t> list(size);
  if (!ReadAt(fd, offset, list.data(), size, error) || !Is(list.data(), "INFO")) return false;
  for (uint64_t at = 4; at < size;) {
    const uint8_t* entry = list.data() + at;
    if (size - at < 8 || Le32(entry) == 0 || Is(entry, "data") || Is(entry, "INFO") || Is(entry, "adtl") ||
        Is(entry, "exif") || Is(entry, "labl")) {
      return false;
    }
    const uint64_t padded = uint64_t{Le32(entry + 4)} + (Le32(entry + 4) & 1);
    if (padded > size - at - 8) return false;
    at += 8 + padded;
  }
  return true;
}

// Walks the chunks of the file, `file_size` bytes long.
bool ReadLayout(int fd, uint64_t file_size, Layout* layout, SoundFormat* format, int* error) {
  uint8_t header[12];
  if (file_size < 12 || !ReadAt(fd, 0, header, 12, error) || !Is(header, "RIFF") || !Is(header + 8, "WAVE")) {
    return false;
  }
  bool have_format = false;
  bool have_data = false;
  uint64_t data_length = 0;
  uint64_t header_bytes = 12;
  uint64_t position = 12;
  uint32_t last_size = 0;  // the size whose pad byte comes next
  // libsndfile stops where fewer than five bytes are left, before the pad.
  while (position + 4 < file_size) {
    position += last_size & 1;
    uint8_t chunk[8];
    if (position + 8 > file_size || !ReadAt(fd, position, chunk, 8, error)) return false;
    // libsndfile stops at a zero marker.
    if (Le32(chunk) == 0) break;
    const uint32_t size = Le32(chunk + 4);
    const uint64_t content = position + 8;
    if (Is(chunk, "data")) {
      // An empty data chunk may be one never closed, which libsndfile
      // stretches to the end of the file.
      if (!have_format || have_data || size == 0) return false;
      have_data = true;
      layout->data_offset = content;
      data_length = std::min<uint64_t>(size, file_size - content);
      // The walk goes on past the pad byte, which is no sound.
      position = content + data_length + (size & 1);
      last_size = 0;
      header_bytes += 8;
      continue;
    }
    // Every other chunk lies whole in the file.
    if (content + size > file_size) return false;
    if (Is(chunk, "fmt ")) {
      if (have_format || !ReadFormat(fd, content, size, layout, format, error)) return false;
      have_format = true;
    } else if (Is(chunk, "LIST")) {
      if (!IsPlainInfoList(fd, content, size, error)) return false;
    } else if (!(Is(chunk, "fact") && size >= 4) && !Is(chunk, "JUNK") && !Is(chunk, "PAD ")) {
      // Chunks libsndfile parses, and may refuse or read differently.
      return false;
    }
    position = content + size;
    last_size = size;
    header_bytes += 8 + size;
    if (header_bytes > kMostHeaderBytes) return false;
  }
  if (!have_data) return false;
  // libsndfile refuses WavPack and Ogg data in a WAV file.
  uint8_t first[4];
  if (!ReadAt(fd, layout->data_offset, first, 4, error) || Is(first, "wvpk") || Is(first, "OggS")) return false;
  const uint64_t block = uint64_t{layout->width} * layout->channels;
  layout->frames = data_length / block;
  format->frames = layout->frames;
  return true;
}

// libsndfile's conversions of little-endian integer samples, `Width` bytes
// each: to floats by scaling the value in its width, to 16 bits by keeping
// the top 16 (8-bit samples are unsigned).
template <unsigned Width>
void Convert(const uint8_t* p, float* out) {
  if constexpr (Width == 1) {
    *out = static_cast<float>(static_cast<int>(p[0]) - 128) * (1.0f / 0x80);
  } else if constexpr (Width == 2) {
    *out = static_cast<float>(static_cast<int16_t>(Le16(p))) * (1.0f / 0x8000);
  } else if constexpr (Width == 3) {
    const uint32_t high = static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(Le16(p + 1)) << 16;
    *out = static_cast<float>(static_cast<int32_t>(high)) * (1.0f / 2147483648.0f);
  } else {
    *out = static_cast<float>(static_cast<int32_t>(Le32(p))) * (1.0f / 2147483648.0f);
  }
}

template <unsigned Width>
void Convert(const uint8_t* p, int16_t* out) {
  if constexpr (Width == 1) {
    *out = static_cast<int16_t>((static_cast<int>(p[0]) - 128) * 256);
  } else {
    *out = static_cast<int16_t>(Le16(p + Width - 2));
  }
}

template <unsigned Width, typename Sample>
void ConvertAll(const uint8_t* bytes, size_t samples, Sample* out) {
  for (size_t i = 0; i < samples; ++i) Convert<Width>(bytes + i * Width, out + i);
}

class WavDecoder final : public SoundDecoder {
 public:
  WavDecoder(int fd, const Layout& layout) : fd_(fd), layout_(layout) {}
  ~WavDecoder() override { close(fd_); }
  long Decode(float* out, long frames) override { return Read(out, frames); }
  long Decode(int16_t* out, long frames) override { return Read(out, frames); }
  bool Rewind() override {
    next_frame_ = 0;
    return true;
  }

 private:
  template <typename Sample>
  long Read(Sample* out, long frames) {
    if (frames <= 0 || next_frame_ >= layout_.frames) return 0;
    const uint64_t wanted = std::min<uint64_t>(static_cast<uint64_t>(frames), layout_.frames - next_frame_);
    const size_t block = size_t{layout_.width} * layout_.channels;
    const uint64_t offset = layout_.data_offset + next_frame_ * block;
    const size_t samples = static_cast<size_t>(wanted) * layout_.channels;
    int error = 0;
    // 16-bit samples as the machine holds them need no conversion.
    if constexpr (std::is_same_v<Sample, int16_t> && std::endian::native == std::endian::little) {
      if (layout_.width == 2) {
        if (!ReadAt(fd_, offset, out, samples * 2, &error)) return -1;
        next_frame_ += wanted;
        return static_cast<long>(wanted);
      }
    }
    bytes_.resize(static_cast<size_t>(wanted) * block);
    if (!ReadAt(fd_, offset, bytes_.data(), bytes_.size(), &error)) return -1;
    switch (layout_.width) {
      case 1: ConvertAll<1>(bytes_.data(), samples, out); break;
      case 2: ConvertAll<2>(bytes_.data(), samples, out); break;
      case 3: ConvertAll<3>(bytes_.data(), samples, out); break;
      default: ConvertAll<4>(bytes_.data(), samples, out); break;
    }
    next_frame_ += wanted;
    return static_cast<long>(wanted);
  }

  const int fd_;
  const Layout layout_;
  uint64_t next_frame_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::unique_ptr<SoundDecoder> OpenWavDecoder(int fd, SoundFormat* format, int* read_error) {
  struct stat status{};
  Layout layout;
  *read_error = 0;
  if (fstat(fd, &status) != 0) {
    *read_error = errno;
    return nullptr;
  }
  if (status.st_size < 0 || !ReadLayout(fd, static_cast<uint64_t>(status.st_size), &layout, format, read_error)) {
    return nullptr;
  }
  return std::make_unique<WavDecoder>(fd, layout);
}
