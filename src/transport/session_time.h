#pragma once

#include <chrono>
#include <cstdint>

namespace tw {

// A reading of the monotonic clock, or the span between two readings, in whole
// nanoseconds. Every session time is one of these, passed in by whoever read the clock:
// an integer keeps moving for centuries, where a float sum of frame times stops once the
// sum dwarfs a frame.
using SessionTime = std::chrono::nanoseconds;

// Seconds as the wire carries them (a ping's clock, a resend's lateness).
inline float to_seconds(SessionTime span) {
    return std::chrono::duration<float>(span).count();
}

// A span given in seconds, as tests and benchmarks choose their frames.
inline SessionTime from_seconds(double seconds) {
    return std::chrono::duration_cast<SessionTime>(std::chrono::duration<double>(seconds));
}

}  // namespace tw
