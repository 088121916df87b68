#include <chrono>

#include "transport/frame_timer.h"

namespace tw {

namespace {

std::int64_t steady_nanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

// The monotonic clock never jumps with the wall clock, so frame times stay honest.
ClockSource ClockSource::monotonic() {
    return ClockSource{
        []() -> std::optional<std::int64_t> { return 1'000'000'000; },
        []() -> std::optional<std::int64_t> { return steady_nanoseconds(); },
        []() -> std::int64_t { return steady_nanoseconds() / 1'000'000; },
    };
}

}  // namespace tw
