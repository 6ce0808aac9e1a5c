// The media layer on POSIX: the player's command strings carried out with
// libsndfile for decoding and ALSA for output.
#include <sndfile.h>

#include <algorithm>
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
#include "platform/posix/sound_file.h"
#include "platform/posix/sound_end.h"

namespace {

// Copies `text` into the caller's reply buffer, cut to its capacity.
void StoreReply(const char* text, char* reply, uint32_t capacity) {
  if (reply == nullptr || capacity == 0) return;
  const size_t length = std::min<size_t>(std::strlen(text), capacity - 1);
  std::memcpy(reply, text, length);
  reply[length] = '\0';
}

// How long an open waits for the sound output to answer: a server that
// accepts the connection and then says nothing counts as no output.
constexpr int kAnswerWaitMs = 5000;

// The one sound the player has open at a time.
struct OpenSound {
  std::string name;
  SNDFILE* file = nullptr;
  bool played = false;
  bool int16 = false;  // no more than 16 bits a sample
  // Esc came while the output was being opened: the sound stays silent and
  // the player reads the Esc next.
  bool silent = false;
};

class MediaLayer {
 public:
  void Finish() {
    CloseSound();
    output_.Drain(kAnswerWaitMs);
  }

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
    uint32_t code = 0;
    const int fd = OpenRegularFile(*path, &code);
    if (fd < 0) return code;
    SF_INFO info{};
    SNDFILE* file = OpenSoundDecoder(fd, &info, &code);
    if (file == nullptr) return code;
    code = PrepareOutput(static_cast<unsigned>(info.samplerate), static_cast<unsigned>(info.channels),
                         HasAtMostSixteenBits(info));
    if (code != 0 && code != kEscWhileOpening) {
      sf_close(file);
      return code;
    }
    sound_ = OpenSound{std::move(wanted), file, false, HasAtMostSixteenBits(info), code == kEscWhileOpening};
    return 0;
  }

  // Not a media error: the open goes on without output.
  static constexpr uint32_t kEscWhileOpening = 0xFFFFFFFF;

  // The output is opened on the sound thread; meanwhile the terminal is
  // watched, so that Esc is heard however long the sound server takes.
  uint32_t PrepareOutput(unsigned rate, unsigned channels, bool int16) {
    if (!output_.RequestPrepare(rate, channels, int16)) return kMediaNoOutput;
    switch (WaitForDescriptorOrEsc(output_.AnswerDescriptor(), kAnswerWaitMs)) {
      case WaitEnd::kReady:
        return output_.PrepareAnswer();
      case WaitEnd::kEscWaiting:
        output_.GiveUpPrepare();
        return kEscWhileOpening;
      case WaitEnd::kTimedOut:
        break;
    }
    output_.GiveUpPrepare();
    return kMediaNoOutput;
  }

  uint32_t Play() {
    if (sound_->silent || output_.Feeding()) return 0;
    // A second play starts the sound again from its beginning.
    if (sound_->played && sf_seek(sound_->file, 0, SEEK_SET) < 0) return kMediaFileDamaged;
    sound_->played = true;
    SNDFILE* file = sound_->file;
    FrameSource source;
    source.floats = [file](float* out, long frames) { return DecodeFrames(file, out, frames); };
    if (sound_->int16) {
      source.int16s = [file](int16_t* out, long frames) { return DecodeFrames(file, out, frames); };
    }
    return output_.Start(std::move(source));
  }

  void CloseSound() {
    if (!sound_) return;
    // A device that does not let go in time may still read the file, so it
    // stays open for the rest of the process.
    if (output_.Finish()) sf_close(sound_->file);
    sound_.reset();
  }

  std::optional<OpenSound> sound_;
  PcmOutput output_;
};

// Never destroyed: the sound thread may use it until the process ends.
MediaLayer& Media() {
  static MediaLayer* const media = new MediaLayer;
  return *media;
}

}  // namespace

int SoundEndDescriptor() { return Media().EndDescriptor(); }

void FinishSound() { Media().Finish(); }

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
