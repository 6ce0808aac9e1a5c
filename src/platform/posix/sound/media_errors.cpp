// Error codes of the media layer and their texts.
#include "platform/posix/sound/media_errors.h"

#include <sndfile.h>

#include <cerrno>
#include <cstring>

namespace {

struct ErrorText {
  uint32_t code;
  const char* text;
};

// Each text fits the player's 64-byte description buffer whole.
constexpr ErrorText kTexts[] = {
    {kMediaFileNotFound, "The sound file was not found."},
    {kMediaFileUnreadable, "The sound file cannot be read."},
    {kMediaNotSound, "The file is not a sound file that can be played."},
    {kMediaFileDamaged, "The sound file is damaged."},
    {kMediaNoOutput, "There is no sound output to play on."},
    {kMediaOutputBusy, "The sound output is in use by another program."},
    {kMediaOutputFormat, "The sound output cannot play this kind of sound."},
    {kMediaNoMemory, "There is not enough memory to play the sound."},
    {kMediaBadCommand, "The sound command is not understood."},
    {kMediaNotOpen, "No sound of that name is open."},
    {kMediaAlreadyOpen, "Another sound is already open."},
    {kMediaServerRefused, "The sound server refused access to its output."},
    {kMediaNoDecoder, "The decoder for this kind of sound file is not installed."},
};

// libsndfile gives its failed allocation no public error code, only a
// number of its own; the library's text for that number tells it.
bool IsDecoderOutOfMemory(const char* decoder_text) {
  return decoder_text != nullptr && std::strstr(decoder_text, "malloc") != nullptr;
}

}  // namespace

const char* MediaErrorText(uint32_t code) {
  for (const ErrorText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

uint32_t CodeForFileError(int error_number) {
  switch (error_number) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kMediaFileNotFound;
    case ENOMEM:
      return kMediaNoMemory;
    default:
      return kMediaFileUnreadable;
  }
}

uint32_t CodeForDecoderError(int decoder_error, const char* decoder_text, int error_number) {
  // A read that failed leaves the decoder with nothing to recognise; it is
  // the disk, not the format.
  if (error_number == EIO || error_number == ESTALE) return kMediaFileUnreadable;
  switch (decoder_error) {
    case SF_ERR_UNRECOGNISED_FORMAT:
    case SF_ERR_UNSUPPORTED_ENCODING:
      return kMediaNotSound;
    case SF_ERR_SYSTEM:
      return error_number == ENOMEM ? kMediaNoMemory : kMediaFileUnreadable;
    default:
      // Malformed headers and every format-specific complaint.
      return IsDecoderOutOfMemory(decoder_text) ? kMediaNoMemory : kMediaFileDamaged;
  }
}

uint32_t CodeForOutputOpenError(int alsa_result) {
  switch (-alsa_result) {
    case EBUSY:
    case EAGAIN:
      return kMediaOutputBusy;
    case ENOMEM:
      return kMediaNoMemory;
    default:
      return kMediaNoOutput;
  }
}

uint32_t CodeForOutputSetupError(int alsa_result) {
  switch (-alsa_result) {
    case EINVAL:
      return kMediaOutputFormat;
    case EBUSY:
    case EAGAIN:
      return kMediaOutputBusy;
    case ENOMEM:
      return kMediaNoMemory;
    default:
      return kMediaNoOutput;
  }
}
