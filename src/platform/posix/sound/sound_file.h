// Opening a sound file for decoding with libsndfile.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <string>

// Opens `path` for reading without blocking on it and makes sure it is a
// regular file: the name may have been swapped for a FIFO or a device since
// it was looked at. The descriptor, or -1 with the media error in *code.
int OpenRegularFile(const std::string& path, uint32_t* code);

// Opens the sound held in the file `fd` for decoding, taking the descriptor
// over (it is closed on failure too). Returns the decoder, with the sound's
// rate and channels in *info, or nullptr with the media error in *code.
SNDFILE* OpenSoundDecoder(int fd, SF_INFO* info, uint32_t* code);

// Whether the sound's samples have no more than 16 bits, so that 16-bit
// integers hold them whole.
bool HasAtMostSixteenBits(const SF_INFO& info);

// Decodes up to `frames` frames into `out` as interleaved samples, floats in
// -1..1 or 16-bit integers; 0 or less at the end of the sound.
long DecodeFrames(SNDFILE* file, float* out, long frames);
long DecodeFrames(SNDFILE* file, int16_t* out, long frames);
