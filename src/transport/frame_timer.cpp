#include "transport/frame_timer.h"

namespace tw {

FrameTimer::FrameTimer(ClockSource clock_source) : source(clock_source) {
    const auto counts = source.frequency();
    has_counter = counts && *counts > 0;
    frequency = has_counter ? *counts : 1000;
}

std::int64_t FrameTimer::now_count() const {
    // Without a working frequency every read falls back to milliseconds, so that the
    // counts and the frequency always agree.
    if (has_counter) {
        if (const auto count = source.counter()) {
            return *count;
        }
    }
    return source.milliseconds();
}

SessionTime FrameTimer::since_start() const {
    // Whole seconds and the rest apart: counts times 10^9 would overflow after a few
    // minutes of a 10 MHz counter.
    constexpr std::int64_t NANOS = 1'000'000'000;
    const std::int64_t counts = now_count() - start_count;
    return SessionTime{counts / frequency * NANOS + counts % frequency * NANOS / frequency};
}

void FrameTimer::start() {
    start_count = now_count();
    reading = SessionTime{0};
    frame = SessionTime{0};
    running = true;
}

double FrameTimer::elapsed() const {
    return std::chrono::duration<double>(since_start()).count();
}

void FrameTimer::tick() {
    const SessionTime previous = reading;
    reading = since_start();
    frame = reading - previous;
}

}  // namespace tw
