#include "platform/posix/sound/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/sound/media_errors.h"

int OpenRegularFile(const std::string& path, uint32_t* code) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    *code = CodeForFileError(errno);
    return -1;
  }
  struct stat status{};
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
      fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    *code = kMediaFileUnreadable;
    return -1;
  }
  return fd;
}

SNDFILE* OpenSoundDecoder(int fd, SF_INFO* info, uint32_t* code) {
  *info = SF_INFO{};
  errno = 0;
  SNDFILE* file = sf_open_fd(fd, SFM_READ, info, SF_TRUE);
  if (file == nullptr) {
    *code = CodeForDecoderError(sf_error(nullptr), errno);
    return nullptr;
  }
  if (info->channels <= 0 || info->samplerate <= 0) {
    sf_close(file);
    *code = kMediaFileDamaged;
    return nullptr;
  }
  return file;
}

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

long DecodeFrames(SNDFILE* file, float* out, long frames) {
  return static_cast<long>(sf_readf_float(file, out, frames));
}

long DecodeFrames(SNDFILE* file, int16_t* out, long frames) {
  return static_cast<long>(sf_readf_short(file, out, frames));
}
