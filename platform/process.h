#pragma once
// Process ids, and whether a process is still there.
#include <cstdint>

namespace platform {

uint32_t currentProcessId() noexcept;

// True while a process with this id exists, also one of another user.
// Id 0 never names a process here.
bool processExists(uint32_t processId) noexcept;

}  // namespace platform
