#pragma once
// A mutex that lives in shared memory and is shared between processes.
// The host creates it inside its shared area; modules and readers only lock
// and unlock it. If an owner dies while holding it, the next locker still
// gets it (reported as OwnerDied) and the mutex is made usable again. A
// holder that locks it again gets it at once; each lock needs its unlock.
#include <cstddef>
#include "native.h"

namespace platform {

struct SharedMutex {
    NativeSharedMutex native;
};

enum class MutexResult {
    Ok,
    OwnerDied,  // locked, but the previous owner died holding it
    Failed,     // not locked (or not unlocked)
};

struct MutexStatus {
    MutexResult result;
    int systemCode;  // the OS error behind OwnerDied or Failed, 0 otherwise
};

// Host side: placement-initialises the mutex in (shared) memory.
bool createSharedMutex(SharedMutex& mutex) noexcept;
void destroySharedMutex(SharedMutex& mutex) noexcept;

// Waits without time-out.
MutexStatus lockSharedMutex(SharedMutex& mutex) noexcept;
MutexStatus unlockSharedMutex(SharedMutex& mutex) noexcept;

// The system's text for an error code, written into buffer (always
// terminated); returns buffer.
const char* systemErrorText(int systemCode, char* buffer, size_t size) noexcept;

}  // namespace platform
