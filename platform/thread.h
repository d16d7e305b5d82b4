#pragma once
// Calling-thread facts and scheduling.
#include <cstdint>

namespace platform {

// Id of the calling operating-system thread, as the logger prints it.
uint32_t currentThreadId() noexcept;

// Gives up the rest of the time slice (the "sleep of 0 ms").
void yieldProcessor() noexcept;

// Sleeps at least the given milliseconds.
void sleepMillis(uint32_t milliseconds) noexcept;

}  // namespace platform
