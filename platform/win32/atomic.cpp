#include "platform/atomic.h"

namespace platform {

// The compiler's atomic built-ins emit the locked x86 instructions that the
// Interlocked functions use, and work on the plain words of a shared layout.

uint32_t atomicIncrement(uint32_t& word) noexcept { return __atomic_add_fetch(&word, 1u, __ATOMIC_SEQ_CST); }

uint32_t atomicLoad(const uint32_t& word) noexcept { return __atomic_load_n(&word, __ATOMIC_SEQ_CST); }

void atomicStore(uint32_t& word, uint32_t value) noexcept { __atomic_store_n(&word, value, __ATOMIC_SEQ_CST); }

void atomicFence() noexcept { __atomic_thread_fence(__ATOMIC_SEQ_CST); }

}  // namespace platform
