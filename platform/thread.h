#pragma once
// Calling-thread facts and scheduling.
#include <cstdint>

namespace platform {

// Id of the calling operating-system thread, as the logger prints it.
uint32_t currentThreadId() noexcept;

// Gives up the rest of the time slice (the "sleep of 0 ms").
void yieldProcessor() noexcept;

// Asks the system to give the calling thread short turns on the processor,
// soon after it wakes: for a thread that sleeps until data arrives and then
// works briefly, so that a busy program beside it (a build, say) does not
// keep it waiting for the rest of its own turn. Only a hint: false (and
// nothing changed) where the system has no such setting, or where the user
// chose another scheduling policy for the process.
bool preferShortTurns() noexcept;

// Sleeps at least the given milliseconds.
void sleepMillis(uint32_t milliseconds) noexcept;

}  // namespace platform
