// libasound, loaded the first time the ALSA output is used (loaded_library.h):
// a sound played through a server never pays for binding its symbols. The
// ALSA code calls the library through the struct below, which it is handed
// only when every function was found; without it there is no sound output.
#pragma once

#include <alloca.h>
#include <alsa/asoundlib.h>

#include <cstring>

#include "platform/posix/sound/loaded_library.h"

// Every function of libasound the program calls. dlsym finds the default
// version of the versioned ones, the one the header describes.
#define ALSA_FUNCTIONS(X)                                                                     \
  X(snd_lib_error_set_handler)                                                                \
  X(snd_pcm_open) X(snd_pcm_close) X(snd_pcm_nonblock) X(snd_pcm_info) X(snd_pcm_info_sizeof) \
  X(snd_pcm_info_get_card)                                                                    \
  X(snd_pcm_hw_params_sizeof) X(snd_pcm_hw_params_any) X(snd_pcm_hw_params_set_access)        \
  X(snd_pcm_hw_params_set_format) X(snd_pcm_hw_params_set_channels)                           \
  X(snd_pcm_hw_params_set_rate_resample) X(snd_pcm_hw_params_set_rate)                        \
  X(snd_pcm_hw_params_set_buffer_time_near) X(snd_pcm_hw_params_set_period_time_near)         \
  X(snd_pcm_hw_params_get_period_size) X(snd_pcm_hw_params_get_buffer_size) X(snd_pcm_hw_params) \
  X(snd_pcm_sw_params_sizeof) X(snd_pcm_sw_params_current) X(snd_pcm_sw_params_set_start_threshold) \
  X(snd_pcm_sw_params_set_avail_min) X(snd_pcm_sw_params)                                     \
  X(snd_pcm_poll_descriptors_count) X(snd_pcm_poll_descriptors) X(snd_pcm_poll_descriptors_revents) \
  X(snd_pcm_state) X(snd_pcm_prepare) X(snd_pcm_start) X(snd_pcm_drop) X(snd_pcm_drain)       \
  X(snd_pcm_resume) X(snd_pcm_recover) X(snd_pcm_delay) X(snd_pcm_writei) X(snd_pcm_get_chmap) \
  X(snd_mixer_open) X(snd_mixer_attach) X(snd_mixer_selem_register) X(snd_mixer_load)         \
  X(snd_mixer_close) X(snd_mixer_selem_id_sizeof) X(snd_mixer_selem_id_set_name)              \
  X(snd_mixer_selem_id_set_index) X(snd_mixer_find_selem) X(snd_mixer_selem_has_playback_volume) \
  X(snd_mixer_selem_is_playback_mono) X(snd_mixer_selem_get_playback_volume_range)            \
  X(snd_mixer_selem_set_playback_volume)

struct AlsaFunctions {
  ALSA_FUNCTIONS(PELDO_FUNCTION_MEMBER)

  bool Bind(void* library, SymbolLookup lookup) {
    bool found = true;
    ALSA_FUNCTIONS(PELDO_BIND_FUNCTION)
    return found;
  }
};

// Loads libasound through `lookup` into `functions` and tells it to keep its
// complaints off standard error: `functions`, or nullptr when the library or
// any of its functions is missing.
const AlsaFunctions* LoadAlsa(SymbolLookup lookup, AlsaFunctions* functions);

// The process's libasound, loaded once by whichever thread comes first and
// never unloaded; nullptr when it is absent.
const AlsaFunctions* AlsaLibrary();

// One of ALSA's opaque structures, zeroed on the caller's stack, as the
// library's own snd_*_alloca macros make it (they would call the library
// by its linked name).
#define ALSA_ON_STACK(alsa, kind) \
  static_cast<snd_##kind##_t*>(std::memset(alloca((alsa).snd_##kind##_sizeof()), 0, (alsa).snd_##kind##_sizeof()))
