#pragma once
// The lock by which the owner of a shared-memory name shows that it is
// alive: one process holds it for its whole life, and the system releases
// it when that process ends in any way (a crash, kill -9). A process id
// written somewhere cannot do this: ids are reused, and two processes can
// both read a dead id and both act on it.
//
// The lock lives beside the object of the same name (POSIX: the shared
// memory object "/NAME~lock"; Windows: the mutex "Local\NAME~lock"; '~'
// keeps it apart from every object name).
#include <cstdint>

#include "native.h"

namespace platform {

struct InstanceLock {
    NativeLockHandle native = kNoNativeLock;
    bool isHeld() const noexcept { return native != kNoNativeLock; }
};

enum class InstanceLockResult {
    Acquired,
    Held,      // another living process holds it
    NotALock,  // something else lies under the lock's name (a FIFO, a folder)
    Failed,    // systemCode tells why
};

struct InstanceLockStatus {
    InstanceLockResult result;
    int systemCode;            // Failed only
    uint32_t holderProcessId;  // Held: the holder, when it could be learnt; 0 otherwise
};

// Takes the lock of `name` without waiting. The holder's process id is kept
// with the lock where the system allows, so that a refused process can
// name the holder.
InstanceLockStatus acquireInstanceLock(const char* name, InstanceLock& lock) noexcept;

// Removes the lock's name (while still holding it, so that no successor is
// holding a lock on a removed name) and releases it.
void releaseInstanceLock(const char* name, InstanceLock& lock) noexcept;

}  // namespace platform
