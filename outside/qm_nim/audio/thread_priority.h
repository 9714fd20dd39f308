// Threads that move sound (the sound server's callbacks, the network thread
// that carries voice) ask for a low real-time priority, so that a busy
// machine delays a 20 ms frame by microseconds instead of a scheduler slice.
// Where real-time scheduling is not allowed (no RLIMIT_RTPRIO) the thread
// keeps its normal priority; either way it asks for a 1 µs timer slack so
// that its wake-ups come on time.
#pragma once

namespace qmnim::audio {

// Applies to the calling thread; true when it now runs with real-time priority.
bool RaiseThisThreadForAudio();

}  // namespace qmnim::audio
