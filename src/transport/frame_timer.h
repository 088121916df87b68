#pragma once

#include <cstdint>
#include <optional>

#include "transport/session_time.h"

namespace tw {

// Where a FrameTimer reads its counts. The default is the monotonic clock in
// nanoseconds; tests supply their own so that time moves only when they say so.
struct ClockSource {
    std::optional<std::int64_t> (*frequency)();  // counts per second, nothing if unavailable
    std::optional<std::int64_t> (*counter)();    // current count, nothing if unavailable
    std::int64_t (*milliseconds)();              // the fallback clock, 1000 counts per second

    static ClockSource monotonic();
};

// The frame clock: one integer reading per frame, in nanoseconds since start, measured on
// a high-resolution counter with a millisecond clock as fallback.
class FrameTimer {
  public:
    explicit FrameTimer(ClockSource source = ClockSource::monotonic());

    void start();
    double elapsed() const;
    void tick();
    // The reading of the last tick, and the time between the last two.
    SessionTime now() const { return reading; }
    SessionTime frame_time() const { return frame; }
    bool is_running() const { return running; }
    std::int64_t counts_per_second() const { return frequency; }

  private:
    std::int64_t now_count() const;
    SessionTime since_start() const;

    ClockSource source;
    bool has_counter = false;
    std::int64_t frequency = 1000;
    std::int64_t start_count = 0;
    SessionTime reading{0};
    SessionTime frame{0};
    bool running = false;
};

}  // namespace tw
