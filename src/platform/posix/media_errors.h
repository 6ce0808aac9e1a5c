// The error codes of the media layer, what causes each, and its text.
#pragma once

#include <cstdint>

enum MediaError : uint32_t {
  kMediaFileNotFound = 301,
  kMediaFileUnreadable = 302,   // no permission, or the disk fails
  kMediaNotSound = 303,         // not a sound file, or an encoding we cannot decode
  kMediaFileDamaged = 304,
  kMediaNoOutput = 305,         // no card, no sound server
  kMediaOutputBusy = 306,
  kMediaOutputFormat = 307,     // the output refuses the sound's rate or channels
  kMediaNoMemory = 308,
  kMediaBadCommand = 309,
  kMediaNotOpen = 310,          // play, status or close of a name not open
  kMediaAlreadyOpen = 311,      // open while another sound is open
};

// The text for `code`, or nullptr when the code is not ours.
const char* MediaErrorText(uint32_t code);

// The code for a file that could not be found or opened, from errno.
uint32_t CodeForFileError(int error_number);

// The code for a file the decoder refused: `decoder_error` is what
// sf_error() reported, `error_number` the errno left by its system calls.
uint32_t CodeForDecoderError(int decoder_error, int error_number);

// The code for a failure to open the output device (a negative ALSA result).
uint32_t CodeForOutputOpenError(int alsa_result);

// The code for an output device that refused the sound's settings.
uint32_t CodeForOutputSetupError(int alsa_result);
