#include <windows.h>
// mmsystem.h needs the types of windows.h.
#include <mmsystem.h>

#include "transport/frame_timer.h"

namespace tw {

// The performance counter, with the millisecond system timer where it is missing.
ClockSource ClockSource::monotonic() {
    return ClockSource{
        []() -> std::optional<std::int64_t> {
            LARGE_INTEGER frequency;
            if (QueryPerformanceFrequency(&frequency) == 0 || frequency.QuadPart <= 0) {
                return std::nullopt;
            }
            return frequency.QuadPart;
        },
        []() -> std::optional<std::int64_t> {
            LARGE_INTEGER count;
            if (QueryPerformanceCounter(&count) == 0) {
                return std::nullopt;
            }
            return count.QuadPart;
        },
        []() -> std::int64_t { return static_cast<std::int64_t>(timeGetTime()); },
    };
}

}  // namespace tw
