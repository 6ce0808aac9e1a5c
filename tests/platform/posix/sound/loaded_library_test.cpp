// Each library whole or not at all: with any one function the program binds
// hidden, as another build of the library may lack it, the library counts
// as absent and a sound takes the path it takes when it is not installed.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/mixer.h"
#include "platform/posix/sound/decode/sound_file.h"
#include "platform/posix/sound/media_errors.h"

namespace {

const char* hidden = "";

void* LookUpAllButHidden(void* library, const char* name) {
  return std::strcmp(name, hidden) == 0 ? nullptr : dlsym(library, name);
}

const SndfileFunctions* SndfileWithoutHidden() {
  static SndfileFunctions functions;
  return LoadSndfile(LookUpAllButHidden, &functions);
}

// The media error of opening `bytes` as a sound file, 0 when it opened.
uint32_t OpenBytes(const std::string& bytes) {
  const int fd = memfd_create("sound", MFD_CLOEXEC);
  EXPECT_EQ(pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  SoundFormat format;
  uint32_t code = 0;
  OpenSoundDecoder(fd, &format, &code, SndfileWithoutHidden);
  return code;
}

#define FUNCTION_NAME(name) #name,

TEST(LoadedLibraryTest, AnyBoundFunctionMissingIsTheWholeLibraryMissing) {
  AlsaFunctions alsa;
  for (const char* name : {ALSA_FUNCTIONS(FUNCTION_NAME)}) {
    hidden = name;
    EXPECT_EQ(LoadAlsa(LookUpAllButHidden, &alsa), nullptr) << name;
  }
  ApplyVolume(nullptr, 0xFFFFFFFF);  // no library sets nothing; the output opens none (mixer_test.cpp)
  for (const char* name : {SNDFILE_FUNCTIONS(FUNCTION_NAME)}) {
    hidden = name;
    EXPECT_EQ(SndfileWithoutHidden(), nullptr) << name;
  }
  // One frame of 16-bit stereo at 8 kHz.
  const std::string plain_wav(
      "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x40\x1f\0\0\0\x7d\0\0\x04\0\x10\0data\x04\0\0\0\0\0\0\0", 48);
  const std::string flac = "fLaC" + std::string(60, '\x01');
  EXPECT_EQ(OpenBytes(flac), kMediaNoDecoder) << hidden;
  EXPECT_EQ(OpenBytes(plain_wav), 0u) << "the built-in reader needs no libsndfile";
  hidden = "";
  EXPECT_NE(LoadAlsa(LookUpAllButHidden, &alsa), nullptr);
  EXPECT_NE(SndfileWithoutHidden(), nullptr);
  EXPECT_EQ(OpenBytes(flac), kMediaFileDamaged) << "with libsndfile whole, the file is to blame";
}

}  // namespace
