#pragma once
// What the Windows files of this folder share about users (process.cpp).
// Windows names users by SIDs, not numbers: a user id of this layer is this
// process's own number for a SID, given on first sight, so ids compare
// within one process and mean nothing outside it.
#include <cstddef>
#include <cstdint>

namespace platform::win32 {

// The id of a SID; 0 for none (or when too many users were seen).
uint32_t userIdOfSid(void* sid) noexcept;

// The SID text ("S-1-5-21-...") of the owner this process gives the
// objects it makes; false when the system does not tell.
bool ownOwnerSidText(char* text, size_t size) noexcept;

}  // namespace platform::win32
