// The media layer on POSIX: the player's command strings carried out with
// a sound decoder (sound_file.h) and the sound output (output.h).
#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "platform/posix/files/files.h"
#include "platform/posix/sound/bounds.h"
#include "platform/posix/sound/media_errors.h"
#include "platform/posix/sound/output.h"
#include "platform/posix/sound/sound.h"
#include "platform/posix/sound/decode/sound_file.h"
#include "platform/posix/system.h"

namespace {

// The text between the quotes of `quoted`, when it begins and ends with one.
bool Unquote(std::string_view quoted, std::string_view* name) {
  if (quoted.size() < 2 || quoted.front() != '"' || quoted.back() != '"') return false;
  *name = quoted.substr(1, quoted.size() - 2);
  return true;
}

// Copies `text` into the caller's reply buffer, cut to its capacity.
void StoreReply(const char* text, char* reply, uint32_t capacity) {
  if (reply == nullptr || capacity == 0) return;
  const size_t length = std::min<size_t>(std::strlen(text), capacity - 1);
  std::memcpy(reply, text, length);
  reply[length] = '\0';
}

// How long an open waits for the sound output to answer: a server that
// accepts the connection and then says nothing counts as no output. A file
// whose header takes as long to read counts as one that cannot be read.
constexpr int kAnswerWaitMs = sound_bounds::kAnswerMs;

// The one sound the player has open at a time.
struct CurrentSound {
  std::string name;
  std::unique_ptr<SoundDecoder> decoder;
  bool played = false;
  // Esc came while the file or the output was being opened: the sound stays
  // silent (perhaps without a file) and the player reads the Esc next.
  bool silent = false;
};

class MediaLayer {
 public:
  void Finish(DescriptorWait wait) {
    CloseSound();
    output_.Drain(kAnswerWaitMs, wait);
  }

  uint32_t Execute(const MediaCommand& command, char* reply, uint32_t capacity, DescriptorWait wait) {
    if (command.verb == MediaVerb::kOpen) return Open(command.name, wait);
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

  void StartOutput() { output_.Connect(); }

  // The driver sets the volume (a server's sink, or ALSA's mixer) on the
  // sound thread, before it opens the output for the next sound.
  void SetVolume(uint32_t volume_word) { output_.SetVolume(volume_word); }

 private:
  uint32_t Open(std::string_view name, DescriptorWait wait) {
    if (sound_) return kMediaAlreadyOpen;
    SilenceLibraries();
    std::string wanted(name);
    // The name is looked up, the file opened and its header read on a
    // worker, with the keys watched, as the output is below. Esc meanwhile
    // leaves the sound open but silent, so that the player reads the Esc
    // next.
    OpenedFile opened;
    switch (files_.Open(wanted, wait, kAnswerWaitMs, &opened)) {
      case WaitEnd::kReady:
        break;
      case WaitEnd::kEscPressed:
        sound_ = CurrentSound{std::move(wanted), nullptr, false, true};
        return 0;
      case WaitEnd::kTimedOut:
        return kMediaFileUnreadable;
    }
    if (opened.decoder == nullptr) return opened.code;
    const SoundFormat& format = opened.format;
    // The output is opened on the sound thread; meanwhile `wait` watches the
    // keys, so that Esc is heard however long the sound server takes.
    uint32_t error = 0;
    const WaitEnd end = output_.Prepare(format, StreamName(wanted), wait, kAnswerWaitMs, &error);
    // Esc first is no error: the sound stays open, silent.
    if (end == WaitEnd::kEscPressed) error = 0;
    if (error != 0) return error;
    sound_ = CurrentSound{std::move(wanted), std::move(opened.decoder), false, end == WaitEnd::kEscPressed};
    return 0;
  }

  uint32_t Play() {
    if (sound_->silent || output_.Feeding()) return 0;
    // The file is the sound thread's until the last feed has let go of it.
    if (!output_.Finish()) return kMediaNoOutput;
    // A second play starts the sound again from its beginning.
    if (sound_->played && !sound_->decoder->Rewind()) return kMediaFileDamaged;
    sound_->played = true;
    SoundDecoder* decoder = sound_->decoder.get();
    FrameSource source;
    source.floats = [decoder](float* out, long frames) { return decoder->Decode(out, frames); };
    source.int16s = [decoder](int16_t* out, long frames) { return decoder->Decode(out, frames); };
    return output_.Start(std::move(source));
  }

  void CloseSound() {
    if (!sound_) return;
    // A device that does not let go in time may still read the file, so it
    // stays open (and the sound thread's) for the rest of the process.
    if (!output_.Finish()) (void)sound_->decoder.release();
    sound_.reset();
  }

  std::optional<CurrentSound> sound_;
  // Made once and never destroyed: their threads may use them until the
  // process ends.
  SoundFileOpener& files_ = *new SoundFileOpener;
  SoundOutput& output_ = *new SoundOutput;
};

// Made on first use, like the sound output it holds.
MediaLayer& Media() {
  static MediaLayer* const media = new MediaLayer;
  return *media;
}

}  // namespace

uint32_t ExecuteMediaCommand(const char* command, char* reply, uint32_t reply_capacity,
                             DescriptorWait wait) {
  MediaCommand parsed;
  if (!ParseMediaCommand(command, &parsed)) return kMediaBadCommand;
  try {
    return Media().Execute(parsed, reply, reply_capacity, wait);
  } catch (...) {
    // Only allocations throw here.
    return kMediaNoMemory;
  }
}

void StartSoundOutput() { Media().StartOutput(); }

int SoundEndDescriptor() { return Media().EndDescriptor(); }

void FinishSound(DescriptorWait wait) { Media().Finish(wait); }

void SetSoundVolume(uint32_t volume_word) { Media().SetVolume(volume_word); }

bool DescribeMediaCode(uint32_t code, char* buffer, uint32_t size) {
  const char* text = MediaErrorText(code);
  if (text == nullptr || buffer == nullptr || size == 0) return false;
  StoreReply(text, buffer, size);
  return true;
}

std::string StreamName(std::string_view name) {
  std::string shown(name);
  std::replace(shown.begin(), shown.end(), '\\', '/');
  return shown;
}

bool ParseMediaCommand(const char* command, MediaCommand* parsed) {
  if (command == nullptr) return false;
  const std::string_view text(command);
  struct Form {
    std::string_view verb;  // with its blank
    std::string_view tail;
    MediaVerb meaning;
  };
  static constexpr Form kForms[] = {
      {"open ", "", MediaVerb::kOpen},
      {"play ", "", MediaVerb::kPlay},
      {"status ", " mode", MediaVerb::kStatusMode},
      {"close ", "", MediaVerb::kClose},
  };
  for (const Form& form : kForms) {
    if (!text.starts_with(form.verb)) continue;
    std::string_view rest = text.substr(form.verb.size());
    if (!rest.ends_with(form.tail)) return false;
    rest.remove_suffix(form.tail.size());
    if (!Unquote(rest, &parsed->name)) return false;
    parsed->verb = form.meaning;
    return true;
  }
  return false;
}
