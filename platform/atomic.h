#pragma once
// Atomic access to 32-bit words that other processes read in shared memory,
// where the words are plain fields of a shared layout rather than
// std::atomic objects. All operations are sequentially consistent.
//
// These are compiler built-ins, not OS calls (on x86 they emit the same
// locked instructions as the Windows Interlocked functions), so one inline
// definition serves every OS we build for with gcc or clang.
#include <cstdint>

namespace platform {

// Adds one and returns the new value.
inline uint32_t atomicIncrement(uint32_t& word) noexcept { return __atomic_add_fetch(&word, 1u, __ATOMIC_SEQ_CST); }

inline uint32_t atomicLoad(const uint32_t& word) noexcept { return __atomic_load_n(&word, __ATOMIC_SEQ_CST); }

inline void atomicStore(uint32_t& word, uint32_t value) noexcept { __atomic_store_n(&word, value, __ATOMIC_SEQ_CST); }

// Orders the plain reads and writes before it against those after it.
inline void atomicFence() noexcept { __atomic_thread_fence(__ATOMIC_SEQ_CST); }

}  // namespace platform
