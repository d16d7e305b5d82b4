#include "platform/shared_mutex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {

namespace {

MutexStatus statusOf(MutexResult result, int code) noexcept { return MutexStatus{result, code}; }

}  // namespace

// Process-shared so that every process mapping the area can use it; robust
// so that a process killed while holding it cannot block the others forever;
// recursive like the host's Windows mutexes: the holder may lock again and
// unlocks once per lock.
bool createSharedMutex(SharedMutex& mutex) noexcept {
    pthread_mutexattr_t attributes;
    if (pthread_mutexattr_init(&attributes) != 0) {
        return false;
    }
    bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(&mutex.native, &attributes) == 0;
    pthread_mutexattr_destroy(&attributes);
    return ok;
}

void destroySharedMutex(SharedMutex& mutex) noexcept { pthread_mutex_destroy(&mutex.native); }

MutexStatus lockSharedMutex(SharedMutex& mutex) noexcept {
    int code = pthread_mutex_lock(&mutex.native);
    if (code == 0) {
        return statusOf(MutexResult::Ok, 0);
    }
    if (code == EOWNERDEAD) {
        // We hold it now; mark it consistent at once, otherwise the next
        // unlock would leave it unusable for everybody.
        int repair = pthread_mutex_consistent(&mutex.native);
        if (repair != 0) {
            return statusOf(MutexResult::OwnerDied, repair);
        }
        return statusOf(MutexResult::OwnerDied, code);
    }
    return statusOf(MutexResult::Failed, code);
}

MutexStatus unlockSharedMutex(SharedMutex& mutex) noexcept {
    int code = pthread_mutex_unlock(&mutex.native);
    return code == 0 ? statusOf(MutexResult::Ok, 0) : statusOf(MutexResult::Failed, code);
}

const char* systemErrorText(int systemCode, char* buffer, size_t size) noexcept {
    if (buffer == nullptr || size == 0) {
        return buffer;
    }
    // The GNU strerror_r may return a static text instead of filling buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
    const char* text = strerror_r(systemCode, buffer, size);
    if (text != buffer) {
        std::snprintf(buffer, size, "%s", text);
    }
#else
    if (strerror_r(systemCode, buffer, size) != 0) {
        std::snprintf(buffer, size, "Unknown error %d", systemCode);
    }
#endif
    return buffer;
}

}  // namespace platform
