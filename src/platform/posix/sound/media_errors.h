// The error codes of the media layer, what causes each, and its text.
#pragma once

#include <cstdint>

constexpr uint32_t kMediaFileNotFound = 301;
constexpr uint32_t kMediaFileUnreadable = 302;  // no permission, or the disk fails
constexpr uint32_t kMediaNotSound = 303;        // not a sound file, or an encoding we cannot decode
constexpr uint32_t kMediaFileDamaged = 304;
constexpr uint32_t kMediaNoOutput = 305;  // no card, no sound server
constexpr uint32_t kMediaOutputBusy = 306;
constexpr uint32_t kMediaOutputFormat = 307;  // the output refuses the sound's rate or channels
constexpr uint32_t kMediaNoMemory = 308;
constexpr uint32_t kMediaBadCommand = 309;
constexpr uint32_t kMediaNotOpen = 310;      // play, status or close of a name not open
constexpr uint32_t kMediaAlreadyOpen = 311;  // open while another sound is open
constexpr uint32_t kMediaServerRefused = 312;  // the sound server refused access, and nothing else plays
constexpr uint32_t kMediaNoDecoder = 313;  // the file needs libsndfile, which is missing or lacks a function

// The text for `code`, or nullptr when the code is not ours.
const char* MediaErrorText(uint32_t code);

// The code for a file that could not be found or opened, from errno.
uint32_t CodeForFileError(int error_number);

// The code for a file the decoder refused: `decoder_error` is what
// sf_error() reported, `decoder_text` sf_error_number()'s text for it (or
// nullptr), `error_number` the errno left by its system calls.
uint32_t CodeForDecoderError(int decoder_error, const char* decoder_text, int error_number);

// The code for a failure to open the output device (a negative ALSA result).
uint32_t CodeForOutputOpenError(int alsa_result);

// The code for an output device that refused the sound's settings.
uint32_t CodeForOutputSetupError(int alsa_result);
