// The media layer on POSIX: the player's command strings carried out with
// libsndfile for decoding and ALSA for output.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/media_commands.h"
#include "platform/posix/media_errors.h"
#include "platform/posix/path_resolver.h"
#include "platform/posix/pcm_output.h"
#include "platform/posix/quiet_libraries.h"
#include "platform/posix/sound_end.h"

namespace {

// Copies `text` into the caller's reply buffer, cut to its capacity.
void StoreReply(const char* text, char* reply, uint32_t capacity) {
  if (reply == nullptr || capacity == 0) return;
  const size_t length = std::min<size_t>(std::strlen(text), capacity - 1);
  std::memcpy(reply, text, length);
  reply[length] = '\0';
}

// The one sound the player has open at a time.
struct OpenSound {
  std::string name;
  SNDFILE* file = nullptr;
  bool played = false;
};

class MediaLayer {
 public:
  // The open sound goes first; the output, destroyed after it, plays out
  // what is queued, so the end of the last sound is heard whole.
  ~MediaLayer() { CloseSound(); }

  uint32_t Carry(const MediaCommand& command, char* reply, uint32_t capacity) {
    if (command.verb == MediaVerb::kOpen) return Open(command.name);
    if (!sound_ || sound_->name != command.name) return kMediaNotOpen;
    switch (command.verb) {
      case MediaVerb::kPlay:
        return Play();
      case MediaVerb::kStatusMode:
        StoreReply(output_.Feeding() ? "playing" : "stopped", reply, capacity);
        return 0;
      case MediaVerb::kClose:
        CloseSound();
        return 0;
      case MediaVerb::kOpen:
        break;
    }
    return kMediaBadCommand;
  }

  int EndDescriptor() const { return sound_ ? output_.EndDescriptor() : -1; }

 private:
  uint32_t Open(std::string_view name) {
    if (sound_) return kMediaAlreadyOpen;
    SilenceLibraries();
    std::string wanted(name);
    const std::optional<std::string> path = ResolveExistingPath(wanted.c_str());
    if (!path) return kMediaFileNotFound;
    const std::optional<uint32_t> attributes = EntryAttributes(*path);
    if (!attributes) return kMediaFileNotFound;
    // A directory, or a FIFO or device that could block the open or the read.
    if ((*attributes & (platform::kAttributeDirectory | platform::kAttributeSystem)) != 0) {
      return kMediaNotSound;
    }
    const int fd = open(path->c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return CodeForFileError(errno);
    SF_INFO info{};
    errno = 0;
    SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_TRUE);
    if (file == nullptr) return CodeForDecoderError(sf_error(nullptr), errno);
    if (info.channels <= 0 || info.samplerate <= 0) {
      sf_close(file);
      return kMediaFileDamaged;
    }
    const uint32_t code = output_.Prepare(static_cast<unsigned>(info.samplerate),
                                          static_cast<unsigned>(info.channels));
    if (code != 0) {
      sf_close(file);
      return code;
    }
    sound_ = OpenSound{std::move(wanted), file, false};
    return 0;
  }

  uint32_t Play() {
    if (output_.Feeding()) return 0;
    // A second play starts the sound again from its beginning.
    if (sound_->played && sf_seek(sound_->file, 0, SEEK_SET) < 0) return kMediaFileDamaged;
    sound_->played = true;
    SNDFILE* file = sound_->file;
    return output_.Start([file](float* out, long frames) {
      return static_cast<long>(sf_readf_float(file, out, frames));
    });
  }

  void CloseSound() {
    if (!sound_) return;
    output_.Finish();
    sf_close(sound_->file);
    sound_.reset();
  }

  std::optional<OpenSound> sound_;
  PcmOutput output_;
};

MediaLayer& Media() {
  static MediaLayer media;
  return media;
}

}  // namespace

int SoundEndDescriptor() { return Media().EndDescriptor(); }

namespace platform {

uint32_t SendMediaCommand(const char* command, char* reply, uint32_t reply_capacity) {
  MediaCommand parsed;
  if (!ParseMediaCommand(command, &parsed)) return kMediaBadCommand;
  try {
    return Media().Carry(parsed, reply, reply_capacity);
  } catch (...) {
    // Only allocations throw here.
    return kMediaNoMemory;
  }
}

bool DescribeMediaError(uint32_t code, char* buffer, uint32_t size) {
  const char* text = MediaErrorText(code);
  if (text == nullptr || buffer == nullptr || size == 0) return false;
  StoreReply(text, buffer, size);
  return true;
}

}  // namespace platform
