#include <cstddef>
#include <cstdint>
#include <span>

#include "session_driver.h"

// A client's socket is connected, but its node still judges each datagram on its own.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tw::fuzz::run_session(std::span(data, size), false);
    return 0;
}
