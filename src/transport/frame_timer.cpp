#include "transport/frame_timer.h"

namespace tw {

FrameTimer::FrameTimer(ClockSource clock_source) : source(clock_source) {
    const auto counts = source.frequency();
    has_counter = counts && *counts > 0;
    frequency = has_counter ? *counts : 1000;
}

std::int64_t FrameTimer::now() const {
    // Without a working frequency every read falls back to milliseconds, so that the
    // counts and the frequency always agree.
    if (has_counter) {
        if (const auto count = source.counter()) {
            return *count;
        }
    }
    return source.milliseconds();
}

void FrameTimer::start() {
    start_count = now();
    total = 0.0F;
    frame = 0.0F;
    running = true;
}

double FrameTimer::elapsed() const {
    // Subtract on the integer counts so that long uptimes lose no precision.
    const std::int64_t difference = now() - start_count;
    return static_cast<double>(difference) / static_cast<double>(frequency);
}

void FrameTimer::tick() {
    const double t = elapsed();
    frame = static_cast<float>(t - static_cast<double>(total));
    total = total + frame;
}

}  // namespace tw
