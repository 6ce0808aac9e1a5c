// libpulse, loaded when a sound server is to be played on and not before:
// linked, it and what it brings (X11, D-Bus, systemd) would double the cost
// of every start, also where no server runs. On the sound thread.
#pragma once

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>

// The functions the sound output calls, each under its own name.
#define PELDO_PULSE_FUNCTIONS(X) \
  X(pa_context_connect) \
  X(pa_context_disconnect) \
  X(pa_context_errno) \
  X(pa_context_get_sink_info_by_name) \
  X(pa_context_get_state) \
  X(pa_context_is_pending) \
  X(pa_context_new) \
  X(pa_context_set_sink_volume_by_name) \
  X(pa_context_unref) \
  X(pa_frame_size) \
  X(pa_mainloop_free) \
  X(pa_mainloop_get_api) \
  X(pa_mainloop_iterate) \
  X(pa_mainloop_new) \
  X(pa_mainloop_set_poll_func) \
  X(pa_operation_cancel) \
  X(pa_operation_get_state) \
  X(pa_operation_unref) \
  X(pa_proplist_free) \
  X(pa_proplist_new) \
  X(pa_proplist_sets) \
  X(pa_sample_spec_equal) \
  X(pa_sample_spec_valid) \
  X(pa_stream_begin_write) \
  X(pa_stream_cancel_write) \
  X(pa_stream_connect_playback) \
  X(pa_stream_disconnect) \
  X(pa_stream_drain) \
  X(pa_stream_get_latency) \
  X(pa_stream_get_state) \
  X(pa_stream_new_with_proplist) \
  X(pa_stream_trigger) \
  X(pa_stream_unref) \
  X(pa_stream_writable_size) \
  X(pa_stream_write) \
  X(pa_usec_to_bytes)

struct PulseLibrary {
#define PELDO_PULSE_POINTER(name) decltype(&::name) name = nullptr;
  PELDO_PULSE_FUNCTIONS(PELDO_PULSE_POINTER)
#undef PELDO_PULSE_POINTER
};

// The library, loaded on first use; nullptr when it is not installed or
// lacks one of the functions.
const PulseLibrary* LoadPulseLibrary();
