#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace tw::fuzz {

// One fuzz input is a little program for one node: a run of operations, each an op byte
// followed by its operands. make_corpus.py writes the seeds in the same encoding.
enum class Op : std::uint8_t {
    raw_datagram = 0,  // source, size selector, bytes: any datagram at all
    message = 1,       // source, then the fields of a record picked to reach deep states
    maintain = 2,      // elapsed-time selector
    chat = 3,          // reliable flag, size, bytes: broadcast_chat
    rename = 4,        // size, bytes: change_name
    logout = 5,        // broadcast_logout
    login = 6,         // size, bytes: send_login
};
inline constexpr std::size_t OP_COUNT = 7;

// Source selectors pick one of a few hosts (127.0.0.1 to .8) and one of four ports on
// each, so logins from known hosts on new ports are tried but the table stays small.
inline constexpr std::size_t SOURCE_HOSTS = 8;
inline constexpr std::size_t SOURCE_PORTS = 4;

// Runs the input against a fresh node, as server or client, checking after every step
// what must hold whatever arrives; aborts on the first broken rule.
void run_session(std::span<const std::uint8_t> input, bool server);

}  // namespace tw::fuzz
