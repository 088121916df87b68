#include <cstddef>
#include <cstdint>
#include <span>

#include "session_driver.h"

// A server takes datagrams from anyone: every client is a potential attacker.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tw::fuzz::run_session(std::span(data, size), true);
    return 0;
}
