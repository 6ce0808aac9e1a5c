// Sound on POSIX: the media commands carried out with a decoder (decode/:
// the built-in WAV reader or libsndfile), and for output and volume a sound
// server's own protocol or ALSA (output.h). The functions below run on the
// main thread; every call to the output runs on the sound thread and the
// opening of sound files on the file system's thread (files.h), both Workers (worker.h),
// which the main thread waits for only with a bound. Signal handlers touch
// nothing here, and the workers block every signal but a fault's (worker.h).
// Calls only the libraries, the system and the files room; where it must
// wait for a file or the output it uses the wait its caller hands in, which
// watches the keys.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/posix/waits.h"

// At the start of a run that may play: starts reaching the sound output on
// the sound thread (SoundOutput::Connect) while the main thread looks the
// file up and opens it. Returns at once; nothing waits for it.
void StartSoundOutput();

// Carries out one media command string as platform::SendMediaCommand does.
// An "open" waits for the output device through `wait`: Esc pressed
// meanwhile leaves the sound open but silent, so that the player reads the
// Esc next.
uint32_t ExecuteMediaCommand(const char* command, char* reply, uint32_t reply_capacity,
                             DescriptorWait wait);

// Sets the volume of the output as platform::SetWaveOutVolume.
void SetSoundVolume(uint32_t volume_word);

// Describes a media error code as platform::DescribeMediaError.
bool DescribeMediaCode(uint32_t code, char* buffer, uint32_t size);

// A descriptor that polls readable from the moment the playing sound has
// ended (or failed) until the next "play"; -1 when no sound is open.
int SoundEndDescriptor();

// At the end of the process: lets the tail of the last sound play out, but
// waits no longer than a device that still answers needs for it, and not at
// all once `wait` sees Esc.
void FinishSound(DescriptorWait wait);

// The media command strings the player sends, taken apart.
enum class MediaVerb { kOpen, kPlay, kStatusMode, kClose };

// One command: what to do, and the file name between the quotes.
struct MediaCommand {
  MediaVerb verb = MediaVerb::kOpen;
  std::string_view name;  // without its quotes; points into the command text
};

// The name a sound's stream shows in the mixer: the file as the user typed
// it, with the "/" that the command line carries as "\" (FormCommandLine).
std::string StreamName(std::string_view name);

// Reads "open NAME", "play NAME", "status NAME mode" or "close NAME", the
// verb in lower case, NAME in double quotes. The name is everything from the
// first byte after the verb's blank up to the end (or up to the final
// " mode"), so quotes inside it belong to the name. False for a null or
// unknown command or a name that is not quoted.
bool ParseMediaCommand(const char* command, MediaCommand* parsed);
