#include "platform/posix/sound_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/media_errors.h"

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

long DecodeFrames(SNDFILE* file, float* out, long frames) {
  return static_cast<long>(sf_readf_float(file, out, frames));
}
