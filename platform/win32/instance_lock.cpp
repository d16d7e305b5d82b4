#include "platform/instance_lock.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <type_traits>

#include "platform/shared_memory.h"

namespace platform {

static_assert(std::is_same_v<NativeLockHandle, HANDLE>, "native.h names the lock's handle type");

namespace {

using LockName = char[sizeof "Local\\" + kMaxSharedMemoryName + sizeof "~lock"];

bool lockName(const char* name, LockName& buffer) noexcept {
    size_t length = name == nullptr ? 0 : std::strlen(name);
    if (length == 0 || length > kMaxSharedMemoryName || std::strchr(name, '\\') != nullptr) {
        return false;
    }
    std::snprintf(buffer, sizeof buffer, "Local\\%s~lock", name);
    return true;
}

}  // namespace

// A named mutex that the holder owns for its whole life: the system hands
// an owned mutex on when its owner ends in any way (the next wait reports it
// abandoned), and the name goes with the object's last handle, so nothing is
// ever left behind. Only one of several takers' waits succeeds. No process
// id can be kept with a mutex: a refused process names no holder. Ownership
// belongs to the thread that took it, which must also release it.
InstanceLockStatus acquireInstanceLock(const char* name, InstanceLock& lock) noexcept {
    lock.native = kNoNativeLock;
    LockName path;
    if (!lockName(name, path)) {
        return {InstanceLockResult::Failed, ERROR_INVALID_NAME, 0};
    }
    HANDLE mutex = CreateMutexA(nullptr, FALSE, path);
    if (mutex == nullptr) {
        const DWORD code = GetLastError();
        if (code == ERROR_INVALID_HANDLE) {  // another kind of object has the name
            return {InstanceLockResult::NotALock, 0, 0};
        }
        return {InstanceLockResult::Failed, static_cast<int>(code), 0};
    }
    switch (WaitForSingleObject(mutex, 0)) {
        case WAIT_OBJECT_0:
        case WAIT_ABANDONED:  // its holder ended without releasing it
            lock.native = mutex;
            return {InstanceLockResult::Acquired, 0, 0};
        case WAIT_TIMEOUT: CloseHandle(mutex); return {InstanceLockResult::Held, 0, 0};
        default: {
            const DWORD code = GetLastError();
            CloseHandle(mutex);
            return {InstanceLockResult::Failed, static_cast<int>(code), 0};
        }
    }
}

void releaseInstanceLock(const char* /*name*/, InstanceLock& lock) noexcept {
    if (!lock.isHeld()) {
        return;
    }
    ReleaseMutex(lock.native);
    CloseHandle(lock.native);
    lock.native = kNoNativeLock;
}

}  // namespace platform
