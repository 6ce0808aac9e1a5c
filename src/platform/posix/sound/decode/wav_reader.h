// The built-in reader of plain WAV files: RIFF WAVE holding 8, 16, 24 or
// 32-bit integer samples, in the plain or the extensible form. It takes a
// file only when it reads it as libsndfile does, to the frame, the length
// and the channel map, and declines everything else and everything it
// doubts; libsndfile, loaded only then, reads what it declines.
#pragma once

#include <memory>

#include "platform/posix/sound/driver.h"
#include "platform/posix/sound/decode/sound_file.h"

// Reads the header of the file `fd` with pread, leaving its offset alone.
// A decoder that owns `fd` from then on, with the sound's format in
// *format; or nullptr, with *format perhaps partly filled and `fd` still the
// caller's, when the reader declines the file or, with its errno in
// *read_error (else 0), when a read of it failed.
std::unique_ptr<SoundDecoder> OpenWavDecoder(int fd, SoundFormat* format, int* read_error);
