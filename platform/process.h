#pragma once
// Process ids, whether a process is still there, and whose it is.
#include <cstdint>
#include <string>

namespace platform {

uint32_t currentProcessId() noexcept;

// True while a process with this id exists, also one of another user.
// Id 0 never names a process here.
bool processExists(uint32_t processId) noexcept;

// The user this process acts as, in the form shared memory's owner takes.
uint32_t currentUserId() noexcept;

// The user a running process acts as; false when that cannot be learnt
// (no such process, or the system does not tell).
bool processUserId(uint32_t processId, uint32_t& userId) noexcept;

// The user's name, or the id as a number when the system knows no name.
std::string userName(uint32_t userId);

// Ends this process at once with the status: no destructor, exit handler or
// library's unload code runs, so a thread still inside a library (or
// holding a lock of the C run-time) cannot hold the end up or be disturbed.
[[noreturn]] void endProcessNow(int status) noexcept;

}  // namespace platform
