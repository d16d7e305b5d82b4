#include "platform/shared_mutex.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

namespace platform {

namespace {

MutexStatus statusOf(MutexResult result, int code) noexcept { return MutexStatus{result, code}; }

int lastError() noexcept { return static_cast<int>(GetLastError()); }

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
    mutex.native.handle = CreateMutexA(nullptr, FALSE, nullptr);
    return mutex.native.handle != nullptr;
}

void destroySharedMutex(SharedMutex& mutex) noexcept {
    if (mutex.native.handle != nullptr) {
        CloseHandle(mutex.native.handle);
    }
    mutex.native.handle = nullptr;
}

// A holder that waits again gets it at once: Windows counts the waits, and
// each needs its own release.
MutexStatus lockSharedMutex(SharedMutex& mutex) noexcept {
    switch (WaitForSingleObject(mutex.native.handle, INFINITE)) {
        case WAIT_OBJECT_0: return statusOf(MutexResult::Ok, 0);
        case WAIT_ABANDONED:
            // The caller holds it now; Windows makes it usable again by itself.
            // The wait sets no error code: name the abandonment ourselves.
            return statusOf(MutexResult::OwnerDied, ERROR_ABANDONED_WAIT_0);
        default: {
            const int code = lastError();
            return statusOf(MutexResult::Failed, code != 0 ? code : ERROR_INVALID_HANDLE);
        }
    }
}

MutexStatus unlockSharedMutex(SharedMutex& mutex) noexcept {
    if (ReleaseMutex(mutex.native.handle) == 0) {
        return statusOf(MutexResult::Failed, lastError());
    }
    return statusOf(MutexResult::Ok, 0);
}

const char* systemErrorText(int systemCode, char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    // An abandoned mutex reads as on the other systems, so that one text in
    // the host's log means a holder died, whichever system it runs on.
    if (systemCode == ERROR_ABANDONED_WAIT_0) {
        std::snprintf(buffer, size, "Owner died");
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
