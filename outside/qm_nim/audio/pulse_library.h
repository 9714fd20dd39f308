// PulseAudio's client library, opened on first use: the voice module maps it
// (and the codec libraries it pulls in) only once the page uses a sound
// device, not at every client start. The headers still give the types, so
// each pointer has the library's own signature.
//
// Thread rules: LoadPulseLibrary may be called from any thread; a table it
// returns stays valid for the life of the process (the library is never
// unloaded).
#pragma once

#include <pulse/pulseaudio.h>

#include <string>

namespace qmnim::audio {

// The client library as the distributions install it (package libpulse0).
constexpr const char kPulseLibraryFile[] = "libpulse.so.0";

// Every function the sound code calls, without its "pa_" prefix.
#define QM_PULSE_FUNCTIONS(X)                                                                          \
    X(context_connect) X(context_disconnect) X(context_errno) X(context_get_server_info)               \
    X(context_get_sink_info_by_index) X(context_get_sink_info_list) X(context_get_sink_input_info)     \
    X(context_get_sink_input_info_list) X(context_get_source_info_list) X(context_get_state)           \
    X(context_new_with_proplist) X(context_set_state_callback) X(context_set_subscribe_callback)       \
    X(context_subscribe) X(context_unref)                                                              \
    X(operation_cancel) X(operation_get_state) X(operation_unref)                                      \
    X(proplist_free) X(proplist_gets) X(proplist_new) X(proplist_sets)                                 \
    X(stream_begin_write) X(stream_connect_playback) X(stream_connect_record) X(stream_disconnect)     \
    X(stream_drop) X(stream_get_context) X(stream_get_latency) X(stream_get_state) X(stream_new) X(stream_peek)              \
    X(stream_readable_size) X(stream_set_monitor_stream) X(stream_set_read_callback)                   \
    X(stream_set_write_callback) X(stream_unref) X(stream_write)                                       \
    X(strerror)                                                                                        \
    X(threaded_mainloop_free) X(threaded_mainloop_get_api) X(threaded_mainloop_lock)                   \
    X(threaded_mainloop_new) X(threaded_mainloop_start) X(threaded_mainloop_stop)                      \
    X(threaded_mainloop_unlock)

// The library's functions: `pulse.stream_new(...)` calls pa_stream_new.
struct PulseLibrary {
#define QM_PULSE_POINTER(name) decltype(&::pa_##name) name = nullptr;
    QM_PULSE_FUNCTIONS(QM_PULSE_POINTER)
#undef QM_PULSE_POINTER
};

// The functions of library `file`, opened on the first call for that name
// (later calls give the same answer at once); nullptr with `error` when the
// library or one of its functions is missing, which is logged once.
const PulseLibrary* LoadPulseLibrary(const std::string& file, std::string& error);

}  // namespace qmnim::audio
