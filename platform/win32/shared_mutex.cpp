#include "platform/shared_mutex.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

MutexStatus statusOf(MutexResult result, int code) noexcept { return MutexStatus{result, code}; }

int lastError() noexcept { return static_cast<int>(GetLastError()); }

uint32_t ownerOf(const SharedMutex& mutex) noexcept { return __atomic_load_n(&mutex.native.ownerThread, __ATOMIC_RELAXED); }

void setOwner(SharedMutex& mutex, uint32_t thread) noexcept {
    __atomic_store_n(&mutex.native.ownerThread, thread, __ATOMIC_RELAXED);
}

// FormatMessage ends its texts with a line break (and some with ". "); the
// callers add their own line end, as they do for the texts of other systems.
void trimLineEnd(char* text) noexcept {
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' || text[length - 1] == ' ')) {
        text[--length] = '\0';
    }
}

}  // namespace

static_assert(sizeof(HANDLE) == sizeof(void*), "the mutex handle is kept as a HANDLE");

// An unnamed mutex, usable by the host's own threads and by the modules it
// loads; other processes need the handle duplicated into them.
bool createSharedMutex(SharedMutex& mutex) noexcept {
    mutex.native.ownerThread = 0;
    mutex.native.handle = CreateMutexA(nullptr, FALSE, nullptr);
    return mutex.native.handle != nullptr;
}

void destroySharedMutex(SharedMutex& mutex) noexcept {
    if (mutex.native.handle != nullptr) {
        CloseHandle(mutex.native.handle);
    }
    mutex.native.handle = nullptr;
}

// A Windows mutex counts its owner's repeated waits instead of refusing
// them: a second wait by the holder is undone and reported, so that one
// unlock always frees the mutex for the others. Whoever takes the mutex
// writes its thread id, so an id left by a holder that died is overwritten
// by the next taker (whose wait reports the abandonment, not this case).
MutexStatus lockSharedMutex(SharedMutex& mutex) noexcept {
    const DWORD self = GetCurrentThreadId();
    switch (WaitForSingleObject(mutex.native.handle, INFINITE)) {
        case WAIT_OBJECT_0:
            if (ownerOf(mutex) == self) {
                ReleaseMutex(mutex.native.handle);
                return statusOf(MutexResult::Failed, ERROR_POSSIBLE_DEADLOCK);
            }
            setOwner(mutex, self);
            return statusOf(MutexResult::Ok, 0);
        case WAIT_ABANDONED:
            // The caller holds it now; Windows makes it usable again by itself.
            setOwner(mutex, self);
            return statusOf(MutexResult::OwnerDied, ERROR_SEM_OWNER_DIED);
        default: {
            const int code = lastError();
            return statusOf(MutexResult::Failed, code != 0 ? code : ERROR_INVALID_HANDLE);
        }
    }
}

MutexStatus unlockSharedMutex(SharedMutex& mutex) noexcept {
    const DWORD self = GetCurrentThreadId();
    const bool mine = ownerOf(mutex) == self;
    if (mine) {
        setOwner(mutex, 0);
    }
    if (ReleaseMutex(mutex.native.handle) == 0) {
        const int code = lastError();
        if (mine) {
            setOwner(mutex, self);
        }
        return statusOf(MutexResult::Failed, code);
    }
    return statusOf(MutexResult::Ok, 0);
}

const char* systemErrorText(int systemCode, char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD language = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
    const DWORD capacity = size > 0xFFFFu ? 0xFFFFu : static_cast<DWORD>(size);
    if (FormatMessageA(flags, nullptr, static_cast<DWORD>(systemCode), language, buffer, capacity, nullptr) != 0) {
        trimLineEnd(buffer);
        return buffer;
    }
    // Too long for the caller's buffer: let the system size it, keep the head.
    char* allocated = nullptr;
    if (GetLastError() == ERROR_INSUFFICIENT_BUFFER &&
        FormatMessageA(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, static_cast<DWORD>(systemCode), language,
                       reinterpret_cast<char*>(&allocated), 0, nullptr) != 0) {
        std::snprintf(buffer, size, "%s", allocated);
        LocalFree(allocated);
        trimLineEnd(buffer);
        return buffer;
    }
    std::snprintf(buffer, size, "Unknown error %d", systemCode);
    return buffer;
}

}  // namespace platform
