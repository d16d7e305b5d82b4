#pragma once
// Atomic access to 32-bit words that other processes read in shared memory,
// where the words are plain fields of a shared layout rather than
// std::atomic objects. All operations are sequentially consistent.
#include <cstdint>

namespace platform {

// Adds one and returns the new value.
uint32_t atomicIncrement(uint32_t& word) noexcept;

uint32_t atomicLoad(const uint32_t& word) noexcept;

void atomicStore(uint32_t& word, uint32_t value) noexcept;

// Orders the plain reads and writes before it against those after it.
void atomicFence() noexcept;

}  // namespace platform
