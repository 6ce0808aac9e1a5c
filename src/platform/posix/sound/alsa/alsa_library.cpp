// libasound, loaded the first time the ALSA output is used: a sound played
// through a server never pays for binding its symbols. Each function below
// has the name and signature of the library's own, so the driver calls ALSA
// as if it were linked; without the library, every call fails as a missing
// device does (snd_pcm_open gives -ENOENT: no sound output).
#include <alsa/asoundlib.h>
#include <dlfcn.h>

#include <cerrno>
#include <type_traits>

namespace {

void IgnoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// Loaded once, by whichever thread comes first, and never unloaded. The
// library prints its complaints to standard error unless told not to, so it
// is told at once.
void* AlsaLibrary() {
  static void* const library = [] {
    void* handle = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (handle != nullptr) {
      if (auto quiet = reinterpret_cast<decltype(&snd_lib_error_set_handler)>(
              dlsym(handle, "snd_lib_error_set_handler"))) {
        quiet(IgnoreAlsaError);
      }
    }
    return handle;
  }();
  return library;
}

void* AlsaSymbol(const char* name) {
  void* library = AlsaLibrary();
  return library != nullptr ? dlsym(library, name) : nullptr;
}

// Calls `real`, or gives what a missing device gives when the library or
// the symbol is not there.
template <typename Function, typename... Args>
auto Forward(Function* real, Args... args) {
  using Result = decltype(real(args...));
  if (real != nullptr) return real(args...);
  if constexpr (std::is_void_v<Result>) {
    return;
  } else if constexpr (std::is_same_v<Result, snd_pcm_state_t>) {
    return SND_PCM_STATE_DISCONNECTED;
  } else if constexpr (std::is_pointer_v<Result>) {
    return Result{nullptr};
  } else if constexpr (std::is_unsigned_v<Result>) {
    return Result{0};  // the size of a structure the failing calls never touch
  } else {
    return static_cast<Result>(-ENOENT);
  }
}

}  // namespace

// Looks the symbol up once; a second thread waits for the first.
#define FORWARD(name, ...)                                                              \
  static const auto real = reinterpret_cast<decltype(&name)>(AlsaSymbol(#name)); \
  return Forward(real __VA_OPT__(, ) __VA_ARGS__)

extern "C" {

int snd_lib_error_set_handler(snd_lib_error_handler_t handler) { FORWARD(snd_lib_error_set_handler, handler); }

int snd_pcm_open(snd_pcm_t** pcm, const char* name, snd_pcm_stream_t stream, int mode) {
  FORWARD(snd_pcm_open, pcm, name, stream, mode);
}
int snd_pcm_close(snd_pcm_t* pcm) { FORWARD(snd_pcm_close, pcm); }
int snd_pcm_nonblock(snd_pcm_t* pcm, int nonblock) { FORWARD(snd_pcm_nonblock, pcm, nonblock); }
int snd_pcm_info(snd_pcm_t* pcm, snd_pcm_info_t* info) { FORWARD(snd_pcm_info, pcm, info); }
size_t snd_pcm_info_sizeof(void) { FORWARD(snd_pcm_info_sizeof); }
int snd_pcm_info_get_card(const snd_pcm_info_t* obj) { FORWARD(snd_pcm_info_get_card, obj); }

size_t snd_pcm_hw_params_sizeof(void) { FORWARD(snd_pcm_hw_params_sizeof); }
int snd_pcm_hw_params_any(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) {
  FORWARD(snd_pcm_hw_params_any, pcm, params);
}
int snd_pcm_hw_params_set_access(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, snd_pcm_access_t access) {
  FORWARD(snd_pcm_hw_params_set_access, pcm, params, access);
}
int snd_pcm_hw_params_set_format(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, snd_pcm_format_t val) {
  FORWARD(snd_pcm_hw_params_set_format, pcm, params, val);
}
int snd_pcm_hw_params_set_channels(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int val) {
  FORWARD(snd_pcm_hw_params_set_channels, pcm, params, val);
}
int snd_pcm_hw_params_set_rate_resample(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int val) {
  FORWARD(snd_pcm_hw_params_set_rate_resample, pcm, params, val);
}
int snd_pcm_hw_params_set_rate(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int val, int dir) {
  FORWARD(snd_pcm_hw_params_set_rate, pcm, params, val, dir);
}
// dlsym finds the default version of these versioned symbols, the one the
// header describes.
int snd_pcm_hw_params_set_buffer_time_near(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int* val,
                                           int* dir) {
  FORWARD(snd_pcm_hw_params_set_buffer_time_near, pcm, params, val, dir);
}
int snd_pcm_hw_params_set_period_time_near(snd_pcm_t* pcm, snd_pcm_hw_params_t* params, unsigned int* val,
                                           int* dir) {
  FORWARD(snd_pcm_hw_params_set_period_time_near, pcm, params, val, dir);
}
int snd_pcm_hw_params_get_period_size(const snd_pcm_hw_params_t* params, snd_pcm_uframes_t* frames, int* dir) {
  FORWARD(snd_pcm_hw_params_get_period_size, params, frames, dir);
}
int snd_pcm_hw_params_get_buffer_size(const snd_pcm_hw_params_t* params, snd_pcm_uframes_t* val) {
  FORWARD(snd_pcm_hw_params_get_buffer_size, params, val);
}
int snd_pcm_hw_params(snd_pcm_t* pcm, snd_pcm_hw_params_t* params) { FORWARD(snd_pcm_hw_params, pcm, params); }

size_t snd_pcm_sw_params_sizeof(void) { FORWARD(snd_pcm_sw_params_sizeof); }
int snd_pcm_sw_params_current(snd_pcm_t* pcm, snd_pcm_sw_params_t* params) {
  FORWARD(snd_pcm_sw_params_current, pcm, params);
}
int snd_pcm_sw_params_set_start_threshold(snd_pcm_t* pcm, snd_pcm_sw_params_t* params, snd_pcm_uframes_t val) {
  FORWARD(snd_pcm_sw_params_set_start_threshold, pcm, params, val);
}
int snd_pcm_sw_params_set_avail_min(snd_pcm_t* pcm, snd_pcm_sw_params_t* params, snd_pcm_uframes_t val) {
  FORWARD(snd_pcm_sw_params_set_avail_min, pcm, params, val);
}
int snd_pcm_sw_params(snd_pcm_t* pcm, snd_pcm_sw_params_t* params) { FORWARD(snd_pcm_sw_params, pcm, params); }

int snd_pcm_poll_descriptors_count(snd_pcm_t* pcm) { FORWARD(snd_pcm_poll_descriptors_count, pcm); }
int snd_pcm_poll_descriptors(snd_pcm_t* pcm, struct pollfd* pfds, unsigned int space) {
  FORWARD(snd_pcm_poll_descriptors, pcm, pfds, space);
}
int snd_pcm_poll_descriptors_revents(snd_pcm_t* pcm, struct pollfd* pfds, unsigned int nfds,
                                     unsigned short* revents) {
  FORWARD(snd_pcm_poll_descriptors_revents, pcm, pfds, nfds, revents);
}
snd_pcm_state_t snd_pcm_state(snd_pcm_t* pcm) { FORWARD(snd_pcm_state, pcm); }
int snd_pcm_prepare(snd_pcm_t* pcm) { FORWARD(snd_pcm_prepare, pcm); }
int snd_pcm_start(snd_pcm_t* pcm) { FORWARD(snd_pcm_start, pcm); }
int snd_pcm_drop(snd_pcm_t* pcm) { FORWARD(snd_pcm_drop, pcm); }
int snd_pcm_drain(snd_pcm_t* pcm) { FORWARD(snd_pcm_drain, pcm); }
int snd_pcm_resume(snd_pcm_t* pcm) { FORWARD(snd_pcm_resume, pcm); }
int snd_pcm_recover(snd_pcm_t* pcm, int err, int silent) { FORWARD(snd_pcm_recover, pcm, err, silent); }
int snd_pcm_delay(snd_pcm_t* pcm, snd_pcm_sframes_t* delayp) { FORWARD(snd_pcm_delay, pcm, delayp); }
snd_pcm_sframes_t snd_pcm_avail(snd_pcm_t* pcm) { FORWARD(snd_pcm_avail, pcm); }
snd_pcm_sframes_t snd_pcm_avail_update(snd_pcm_t* pcm) { FORWARD(snd_pcm_avail_update, pcm); }
snd_pcm_sframes_t snd_pcm_writei(snd_pcm_t* pcm, const void* buffer, snd_pcm_uframes_t size) {
  FORWARD(snd_pcm_writei, pcm, buffer, size);
}

int snd_mixer_open(snd_mixer_t** mixer, int mode) { FORWARD(snd_mixer_open, mixer, mode); }
int snd_mixer_attach(snd_mixer_t* mixer, const char* name) { FORWARD(snd_mixer_attach, mixer, name); }
int snd_mixer_selem_register(snd_mixer_t* mixer, struct snd_mixer_selem_regopt* options,
                             snd_mixer_class_t** classp) {
  FORWARD(snd_mixer_selem_register, mixer, options, classp);
}
int snd_mixer_load(snd_mixer_t* mixer) { FORWARD(snd_mixer_load, mixer); }
int snd_mixer_close(snd_mixer_t* mixer) { FORWARD(snd_mixer_close, mixer); }
size_t snd_mixer_selem_id_sizeof(void) { FORWARD(snd_mixer_selem_id_sizeof); }
void snd_mixer_selem_id_set_name(snd_mixer_selem_id_t* obj, const char* val) {
  FORWARD(snd_mixer_selem_id_set_name, obj, val);
}
void snd_mixer_selem_id_set_index(snd_mixer_selem_id_t* obj, unsigned int val) {
  FORWARD(snd_mixer_selem_id_set_index, obj, val);
}
snd_mixer_elem_t* snd_mixer_find_selem(snd_mixer_t* mixer, const snd_mixer_selem_id_t* id) {
  FORWARD(snd_mixer_find_selem, mixer, id);
}
int snd_mixer_selem_has_playback_volume(snd_mixer_elem_t* elem) {
  FORWARD(snd_mixer_selem_has_playback_volume, elem);
}
int snd_mixer_selem_is_playback_mono(snd_mixer_elem_t* elem) { FORWARD(snd_mixer_selem_is_playback_mono, elem); }
int snd_mixer_selem_get_playback_volume_range(snd_mixer_elem_t* elem, long* min, long* max) {
  FORWARD(snd_mixer_selem_get_playback_volume_range, elem, min, max);
}
int snd_mixer_selem_set_playback_volume(snd_mixer_elem_t* elem, snd_mixer_selem_channel_id_t channel,
                                        long value) {
  FORWARD(snd_mixer_selem_set_playback_volume, elem, channel, value);
}

}  // extern "C"
