#include "alloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace tw::bench {

namespace {

struct AtomicTally {
    std::atomic<std::uint64_t> allocations{0};
    std::atomic<std::uint64_t> live_blocks{0};
    std::atomic<std::uint64_t> live_bytes{0};
};

// A function-local object rather than a namespace-scope one, so that it exists before
// the first allocation of any static constructor.
AtomicTally& tally() {
    static AtomicTally counts;
    return counts;
}

void* counted_allocate(std::size_t size) {
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    AtomicTally& counts = tally();
    counts.allocations.fetch_add(1, std::memory_order_relaxed);
    counts.live_blocks.fetch_add(1, std::memory_order_relaxed);
    counts.live_bytes.fetch_add(malloc_usable_size(block), std::memory_order_relaxed);
    return block;
}

void counted_release(void* block) noexcept {
    if (block == nullptr) {
        return;
    }
    AtomicTally& counts = tally();
    counts.live_blocks.fetch_sub(1, std::memory_order_relaxed);
    counts.live_bytes.fetch_sub(malloc_usable_size(block), std::memory_order_relaxed);
    std::free(block);
}

}  // namespace

HeapTally heap_tally() {
    const AtomicTally& counts = tally();
    return HeapTally{counts.allocations.load(std::memory_order_relaxed),
                     counts.live_blocks.load(std::memory_order_relaxed),
                     counts.live_bytes.load(std::memory_order_relaxed)};
}

}  // namespace tw::bench

// The replaceable allocation functions: every container in the program comes through
// these, so counting here sees every allocation the session layer makes.
void* operator new(std::size_t size) {
    return tw::bench::counted_allocate(size);
}

void* operator new[](std::size_t size) {
    return tw::bench::counted_allocate(size);
}

void operator delete(void* block) noexcept {
    tw::bench::counted_release(block);
}

void operator delete[](void* block) noexcept {
    tw::bench::counted_release(block);
}

void operator delete(void* block, std::size_t /*size*/) noexcept {
    tw::bench::counted_release(block);
}

void operator delete[](void* block, std::size_t /*size*/) noexcept {
    tw::bench::counted_release(block);
}
