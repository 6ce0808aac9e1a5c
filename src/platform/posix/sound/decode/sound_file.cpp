#include "platform/posix/sound/decode/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/decode/sndfile_library.h"
#include "platform/posix/sound/decode/wav_reader.h"

int OpenRegularFile(const std::string& path, struct stat* status, uint32_t* code) {
  const int fd = OpenWithoutBlocking(path);
  if (fd < 0) {
    *code = CodeForFileError(errno);
    return -1;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, status) != 0 || !S_ISREG(status->st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    *code = kMediaFileUnreadable;
    return -1;
  }
  return fd;
}

namespace {

// Whether the sound's samples have no more than 16 bits, so that 16-bit
// integers hold them whole.
bool HasAtMostSixteenBits(const SF_INFO& info) {
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_ULAW:
    case SF_FORMAT_ALAW:
    case SF_FORMAT_IMA_ADPCM:
    case SF_FORMAT_MS_ADPCM:
    case SF_FORMAT_GSM610:
    case SF_FORMAT_ALAC_16:
      return true;
    default:
      // Wider integers, floats, and the codecs that decode to floats.
      return false;
  }
}

// The speaker of each channel as the file names it (SF_CHANNEL_MAP_*
// values), or nothing when it names none.
std::vector<int> ChannelMap(const SndfileFunctions& sndfile, SNDFILE* file, const SF_INFO& info) {
  std::vector<int> map(static_cast<size_t>(info.channels));
  const int bytes = static_cast<int>(map.size() * sizeof(int));
  if (sndfile.sf_command(file, SFC_GET_CHANNEL_MAP_INFO, map.data(), bytes) != SF_TRUE) map.clear();
  return map;
}

constexpr int kL = SF_CHANNEL_MAP_LEFT, kR = SF_CHANNEL_MAP_RIGHT, kC = SF_CHANNEL_MAP_CENTER,
              kLfe = SF_CHANNEL_MAP_LFE, kBL = SF_CHANNEL_MAP_REAR_LEFT, kBR = SF_CHANNEL_MAP_REAR_RIGHT,
              kBC = SF_CHANNEL_MAP_REAR_CENTER, kSL = SF_CHANNEL_MAP_SIDE_LEFT, kSR = SF_CHANNEL_MAP_SIDE_RIGHT;
// Each format's own order for 2 to 8 channels, as the format defines it.
constexpr int kFlacOrders[7][8] = {{kL, kR},
                                   {kL, kR, kC},
                                   {kL, kR, kBL, kBR},
                                   {kL, kR, kC, kBL, kBR},
                                   {kL, kR, kC, kLfe, kBL, kBR},
                                   {kL, kR, kC, kLfe, kBC, kSL, kSR},
                                   {kL, kR, kC, kLfe, kBL, kBR, kSL, kSR}};
constexpr int kVorbisOrders[7][8] = {{kL, kR},
                                     {kL, kC, kR},
                                     {kL, kR, kBL, kBR},
                                     {kL, kC, kR, kBL, kBR},
                                     {kL, kC, kR, kBL, kBR, kLfe},
                                     {kL, kC, kR, kSL, kSR, kBC, kLfe},
                                     {kL, kC, kR, kSL, kSR, kBL, kBR, kLfe}};
// A WAV without a mask has the first channels of the mask's order.
constexpr int kWavOrder[8] = {kL, kR, kC, kLfe, kBL, kBR, kSL, kSR};

class LibsndfileDecoder final : public SoundDecoder {
 public:
  LibsndfileDecoder(const SndfileFunctions& sndfile, SNDFILE* file) : sndfile_(sndfile), file_(file) {}
  ~LibsndfileDecoder() override { sndfile_.sf_close(file_); }
  long Decode(float* out, long frames) override {
    return static_cast<long>(sndfile_.sf_readf_float(file_, out, frames));
  }
  long Decode(int16_t* out, long frames) override {
    return static_cast<long>(sndfile_.sf_readf_short(file_, out, frames));
  }
  bool Rewind() override { return sndfile_.sf_seek(file_, 0, SEEK_SET) >= 0; }

 private:
  const SndfileFunctions& sndfile_;
  SNDFILE* const file_;
};

std::unique_ptr<SoundDecoder> OpenLibsndfileDecoder(const SndfileFunctions* sndfile, int fd, SoundFormat* format,
                                                    uint32_t* code) {
  // The file is no less a sound for the decoder missing: it is the install
  // that fails.
  if (sndfile == nullptr) {
    close(fd);
    *code = kMediaNoDecoder;
    return nullptr;
  }
  SF_INFO info{};
  errno = 0;
  SNDFILE* file = sndfile->sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
  if (file == nullptr) {
    const int error_number = errno;
    const int decoder_error = sndfile->sf_error(nullptr);
    *code = CodeForDecoderError(decoder_error, sndfile->sf_error_number(decoder_error), error_number);
    return nullptr;
  }
  auto decoder = std::make_unique<LibsndfileDecoder>(*sndfile, file);
  if (info.channels <= 0 || info.samplerate <= 0) {
    *code = kMediaFileDamaged;
    return nullptr;
  }
  format->rate = static_cast<unsigned>(info.samplerate);
  format->channels = static_cast<unsigned>(info.channels);
  format->int16 = HasAtMostSixteenBits(info);
  format->channel_map = ChannelMap(*sndfile, file, info);
  if (format->channel_map.empty()) format->channel_map = FormatChannelOrder(info.format, format->channels);
  format->frames = info.frames > 0 ? static_cast<uint64_t>(info.frames) : 0;
  return decoder;
}

}  // namespace

std::vector<int> FormatChannelOrder(int format, unsigned channels) {
  const int* order = nullptr;
  const int type = format & SF_FORMAT_TYPEMASK;
  const int codec = format & SF_FORMAT_SUBMASK;
  if (channels == 1) return {SF_CHANNEL_MAP_MONO};
  if (channels > 8) return {};
  if (type == SF_FORMAT_FLAC) {
    order = kFlacOrders[channels - 2];
  } else if (type == SF_FORMAT_OGG && (codec == SF_FORMAT_VORBIS || codec == SF_FORMAT_OPUS)) {
    order = kVorbisOrders[channels - 2];
  } else if (type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX || type == SF_FORMAT_RF64 || type == SF_FORMAT_W64) {
    order = kWavOrder;
  }
  return order != nullptr ? std::vector<int>(order, order + channels) : std::vector<int>{};
}

std::unique_ptr<SoundDecoder> OpenSoundDecoder(int fd, SoundFormat* format, uint32_t* code,
                                               const SndfileFunctions* (*sndfile)()) {
  *format = SoundFormat{};
  int read_error = 0;
  std::unique_ptr<SoundDecoder> decoder = OpenWavDecoder(fd, format, &read_error);
  if (decoder != nullptr) {
    if (format->channel_map.empty()) format->channel_map = FormatChannelOrder(SF_FORMAT_WAV, format->channels);
    return decoder;
  }
  // A read that failed is the disk's, whichever reader met it.
  if (read_error != 0) {
    close(fd);
    *code = CodeForFileError(read_error);
    return nullptr;
  }
  *format = SoundFormat{};
  return OpenLibsndfileDecoder(sndfile(), fd, format, code);
}

namespace {

// Any write to a file, and any change of its times, moves its change time,
// which no program can set back: a file rewritten in place, even to the same
// size with its old modification time, is another file here.
bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

// What the decoder said of the file's contents, which stays true while the
// file does; a failed read, or memory that ran out, may pass.
bool Lasting(uint32_t code) { return code == kMediaNotSound || code == kMediaFileDamaged; }

}  // namespace

WaitEnd SoundFileOpener::Open(const std::string& name, DescriptorWait wait, int timeout_ms,
                              OpenedFile* opened) {
  *opened = OpenedFile{nullptr, {}, kMediaFileUnreadable};
  const std::optional<WaitEnd> end = worker_.Call([&] { return [this, name] { OpenOnWorker(name); }; }, wait,
                                                  timeout_ms, [this] { answer_.decoder.reset(); });
  if (!end) return WaitEnd::kReady;
  if (*end == WaitEnd::kReady) *opened = std::move(answer_);
  return *end;
}

void SoundFileOpener::OpenOnWorker(const std::string& name) {
  // Nothing thrown leaves the job: a lack of memory is the sound's error.
  try {
    OpenOnWorkerOrThrow(name);
  } catch (const std::bad_alloc&) {
    answer_ = OpenedFile{nullptr, {}, kMediaNoMemory};
  } catch (...) {
    answer_ = OpenedFile{nullptr, {}, kMediaFileUnreadable};
  }
}

void SoundFileOpener::OpenOnWorkerOrThrow(const std::string& name) {
  OpenedFile opened;
  const std::optional<std::string> path = ResolveExistingPath(name.c_str());
  const std::optional<uint32_t> attributes = path ? EntryAttributes(*path) : std::nullopt;
  if (!attributes) {
    answer_ = OpenedFile{nullptr, {}, kMediaFileNotFound};
    return;
  }
  // A directory, or a FIFO or device that could block the open or the read.
  if ((*attributes & (platform::kAttributeDirectory | platform::kAttributeSystem)) != 0) {
    answer_ = OpenedFile{nullptr, {}, kMediaNotSound};
    return;
  }
  struct stat status{};
  const int fd = OpenRegularFile(*path, &status, &opened.code);
  if (fd >= 0 && failed_code_ != 0 && SameFile(status, failed_status_)) {
    close(fd);
    opened.code = failed_code_;
  } else if (fd >= 0) {
    opened.decoder = OpenSoundDecoder(fd, &opened.format, &opened.code);
    if (opened.decoder == nullptr && Lasting(opened.code)) {
      failed_status_ = status;
      failed_code_ = opened.code;
    }
  }
  answer_ = std::move(opened);
}
