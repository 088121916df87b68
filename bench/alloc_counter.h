#pragma once

#include <cstdint>

namespace tw::bench {

// What the replaced operator new has handed out so far. Allocation is process-wide by
// nature, so these are the one process-wide state of the benchmark program.
struct HeapTally {
    std::uint64_t allocations = 0;  // calls of operator new, ever
    std::uint64_t live_blocks = 0;  // blocks not yet given back
    std::uint64_t live_bytes = 0;   // usable bytes of those blocks, as malloc sized them
};

HeapTally heap_tally();

// glibc keeps one 8-byte size word in front of every block; it is part of what a block
// really costs, though malloc_usable_size does not report it.
inline constexpr std::uint64_t MALLOC_BLOCK_HEADER = 8;

}  // namespace tw::bench
