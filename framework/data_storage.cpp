#include "framework/data_storage.h"

#include <cstdio>

#include "platform/atomic.h"

// --- CMutexH ------------------------------------------------------------------

namespace {

// "<what>" through the logger, then the system's text and the line end
// straight on the output.
void reportMutexFailureText(const CLogH* logger, const char* what, const char* text) noexcept {
    if (logger != nullptr) {
        logger->error(what, false);
    }
    std::fputs(text, stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void reportMutexFailure(const CLogH* logger, const char* what, int systemCode) noexcept {
    char text[256];
    reportMutexFailureText(logger, what, platform::systemErrorText(systemCode, text, sizeof text));
}

constexpr char kNoHandle[] = "The mutex handle is empty.";

}  // namespace

// An owner's death hands the lock over: the caller holds it and goes on,
// but it hears that the records may be half-written.
bool CMutexH::lock() noexcept {
    if (handle_ == nullptr) {
        reportMutexFailureText(logger_, "CMutexH: Locking mutex: ", kNoHandle);
        return false;
    }
    platform::MutexStatus status = platform::lockSharedMutex(*handle_);
    // Only the outer lock moves the sequence: it stays odd while held.
    if (status.result != platform::MutexResult::Failed && depth_++ == 0) {
        // An owner that died holding the lock left it odd: one more step
        // makes it odd again for this holder.
        if (sequence_ != nullptr && (platform::atomicIncrement(*sequence_) & 1u) == 0) {
            platform::atomicIncrement(*sequence_);
        }
    }
    if (status.result == platform::MutexResult::Ok) {
        return true;
    }
    reportMutexFailure(logger_, "CMutexH: Locking mutex: ", status.systemCode);
    return false;
}

bool CMutexH::unlock() noexcept {
    if (handle_ == nullptr) {
        reportMutexFailureText(logger_, "CMutexH: Unlocking mutex: ", kNoHandle);
        return false;
    }
    // Only the unlock of the outer lock this object took moves the sequence:
    // a failed lock followed by its unlock must leave it even.
    if (depth_ > 0 && --depth_ == 0 && sequence_ != nullptr) {
        platform::atomicIncrement(*sequence_);
    }
    platform::MutexStatus status = platform::unlockSharedMutex(*handle_);
    if (status.result == platform::MutexResult::Ok) {
        return true;
    }
    reportMutexFailure(logger_, "CMutexH: Unlocking mutex: ", status.systemCode);
    return false;
}

// --- CDataStorage -------------------------------------------------------------

void CDataStorage::report(const char* message) const noexcept {
    if (logger_ != nullptr) {
        logger_->error(message, true);
    }
}

// The checks run in this order, and the first one that fails is the one
// reported; the count changes only when all pass.
bool CDataStorage::setCount(uint32_t n, const void* ownList, const void* otherList, const char* otherListMessage,
                            const char* noListMessage) noexcept {
    if (n > kMaxRecords) {
        report("CDataStorage: The new number is too big.");
        return false;
    }
    if (otherList != nullptr) {
        report(otherListMessage);
        return false;
    }
    if (ownList == nullptr || count_ == nullptr) {
        report(noListMessage);
        return false;
    }
    if (mutex_ == nullptr) {
        report("CDataStorage: Mutex has not been set up yet.");
        return false;
    }
    if (n == 0) {
        report("CDataStorage: the number of data is zero.");
        return false;
    }
    *count_ = n;
    return true;
}

bool CDataStorage::setNumTrackers(uint32_t n) noexcept {
    return setCount(n, trackerList_, controllerList_, "Delete controller data list first.",
                    "CDataStorage: Data storage has not been created yet.");
}

bool CDataStorage::setNumControllers(uint32_t n) noexcept {
    return setCount(n, controllerList_, trackerList_, "CDataStorage: Delete tracker data list first.",
                    "CDataStorage: Datt Storage has not been created yet.");
}

// The count word lives in shared memory where any program can write it: an
// index beyond the 32 records that exist is refused whatever it says.
TraData* CDataStorage::getTraData(uint32_t i) noexcept {
    if (trackerList_ == nullptr || i == 0 || i > getNumTrackers() || i > kMaxRecords) {
        return nullptr;
    }
    return trackerList_ + (i - 1);
}

ConData* CDataStorage::getConData(uint32_t i) noexcept {
    if (controllerList_ == nullptr || i == 0 || i > getNumControllers() || i > kMaxRecords) {
        return nullptr;
    }
    return controllerList_ + (i - 1);
}

uint32_t CDataStorage::getNumTrackers() const noexcept {
    return trackerList_ != nullptr && count_ != nullptr ? *count_ : 0;
}

uint32_t CDataStorage::getNumControllers() const noexcept {
    return controllerList_ != nullptr && count_ != nullptr ? *count_ : 0;
}

bool CDataStorage::lock() noexcept { return mutex_ != nullptr && mutex_->lock(); }

bool CDataStorage::unlock() noexcept { return mutex_ != nullptr && mutex_->unlock(); }
