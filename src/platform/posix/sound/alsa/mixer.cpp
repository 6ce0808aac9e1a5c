// The volume when ALSA plays: a playback volume of the device's mixer; for
// ALSA's "default" with a sound server behind it, that server's own volume.
// The server's driver sets its sink's volume itself (server/server_output.cpp).
#include "platform/posix/sound/alsa/mixer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/posix/sound/alsa/alsa_library.h"
#include "platform/posix/sound/alsa/alsa_output.h"
#include "platform/posix/system.h"

namespace {

// "PCM" is the wave output of a sound card; where there is none (a sound
// server's mixer has only "Master") the master volume stands in.
snd_mixer_elem_t* FindVolumeElement(const AlsaFunctions& alsa, snd_mixer_t* mixer) {
  snd_mixer_selem_id_t* id = ALSA_ON_STACK(alsa, mixer_selem_id);
  for (const char* name : {"PCM", "Master"}) {
    alsa.snd_mixer_selem_id_set_name(id, name);
    alsa.snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_elem_t* element = alsa.snd_mixer_find_selem(mixer, id);
    if (element != nullptr && alsa.snd_mixer_selem_has_playback_volume(element)) return element;
  }
  return nullptr;
}

void SetElementVolume(const AlsaFunctions& alsa, snd_mixer_elem_t* element, uint16_t left, uint16_t right) {
  long low = 0;
  long high = 0;
  if (alsa.snd_mixer_selem_get_playback_volume_range(element, &low, &high) < 0) return;
  const long left_level = ScaleChannelValue(left, low, high);
  const long right_level = ScaleChannelValue(right, low, high);
  if (alsa.snd_mixer_selem_is_playback_mono(element)) {
    alsa.snd_mixer_selem_set_playback_volume(element, SND_MIXER_SCHN_MONO, left_level);
    return;
  }
  alsa.snd_mixer_selem_set_playback_volume(element, SND_MIXER_SCHN_FRONT_LEFT, left_level);
  alsa.snd_mixer_selem_set_playback_volume(element, SND_MIXER_SCHN_FRONT_RIGHT, right_level);
}

// The mixer of `device`: the device's own name where it names a mixer too
// ("default", "pulse", "hw:1"), else that of the card the device is on.
bool AttachMixer(const AlsaFunctions& alsa, snd_mixer_t* mixer, const char* device) {
  if (alsa.snd_mixer_attach(mixer, device) == 0) return true;
  // "default" without a mixer is no sound at all: nothing to look for.
  if (std::strcmp(device, "default") == 0) return false;
  snd_pcm_t* pcm = nullptr;
  if (alsa.snd_pcm_open(&pcm, device, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return false;
  snd_pcm_info_t* info = ALSA_ON_STACK(alsa, pcm_info);
  const int card = alsa.snd_pcm_info(pcm, info) == 0 ? alsa.snd_pcm_info_get_card(info) : -1;
  alsa.snd_pcm_close(pcm);
  if (card < 0) return false;
  char card_name[16];
  std::snprintf(card_name, sizeof card_name, "hw:%d", card);
  return alsa.snd_mixer_attach(mixer, card_name) == 0;
}

}  // namespace

bool DeviceNamedByUser() {
  const char* chosen = std::getenv("AUDIODEV");
  return chosen != nullptr && chosen[0] != '\0';
}

const char* OutputDeviceName() {
  static const char* const name = DeviceNamedByUser() ? std::getenv("AUDIODEV") : "default";
  return name;
}

void AlsaVolume::SetVolume(uint32_t volume_word, uint64_t) { ApplyVolume(AlsaLibrary(), volume_word); }

void ApplyVolume(const AlsaFunctions* library, uint32_t volume_word) {
  if (library == nullptr) return;
  const AlsaFunctions& alsa = *library;
  SilenceLibraries();
  snd_mixer_t* mixer = nullptr;
  if (alsa.snd_mixer_open(&mixer, 0) < 0) return;
  if (AttachMixer(alsa, mixer, OutputDeviceName()) &&
      alsa.snd_mixer_selem_register(mixer, nullptr, nullptr) == 0 && alsa.snd_mixer_load(mixer) == 0) {
    if (snd_mixer_elem_t* element = FindVolumeElement(alsa, mixer)) {
      SetElementVolume(alsa, element, static_cast<uint16_t>(volume_word & 0xFFFF),
                       static_cast<uint16_t>(volume_word >> 16));
    }
  }
  alsa.snd_mixer_close(mixer);
}

long ScaleChannelValue(uint16_t value, long low, long high) {
  if (low == 0 && high == 65536) return value;
  if (high <= low) return low;
  const long long span = static_cast<long long>(high) - low;
  return low + static_cast<long>((value * span + 32767) / 65535);
}
