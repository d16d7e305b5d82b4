#pragma once
// The module's view of the host's shared storage: one CDataStorage holds
// either the tracker list or the controller list, with the list's count word
// and the mutex that guards both. The host creates all of it; a module only
// raises the count at set-up, and locks, looks up and copies records.
#include <cstdint>

#include "framework/logger.h"
#include "framework/records.h"
#include "platform/shared_mutex.h"

class CMutexH {
public:
    CMutexH(platform::SharedMutex* handle, CLogH* logger, uint32_t* sequence = nullptr) noexcept
        : handle_(handle), logger_(logger), sequence_(sequence) {}

    // Waits without time-out. On failure (or when the previous owner died
    // holding it) reports "CMutexH: Locking mutex: " and the system's text,
    // and returns false; after an owner death the caller holds the lock.
    // The holder may lock again; each lock needs its own unlock.
    bool lock() noexcept;
    bool unlock() noexcept;

private:
    platform::SharedMutex* handle_;
    CLogH* logger_;
    // Host business: when set, bumped right after locking and right before
    // unlocking, so lock-free readers can tell a torn copy (odd or changed).
    // It is odd exactly while somebody holds the lock (after an owner's death
    // the next holder steps it twice if needed).
    uint32_t* sequence_;
    uint32_t depth_ = 0;  // locks taken through this object and not yet undone (odd sequence while > 0)
};

class CDataStorage {
public:
    static constexpr uint32_t kMaxRecords = 32;

    CDataStorage(TraData* trackerList, ConData* controllerList, CLogH* logger, CMutexH* mutex, uint32_t* count) noexcept
        : trackerList_(trackerList), controllerList_(controllerList), logger_(logger), mutex_(mutex), count_(count) {}

    bool setNumTrackers(uint32_t n) noexcept;
    bool setNumControllers(uint32_t n) noexcept;
    TraData* getTraData(uint32_t i) noexcept;
    ConData* getConData(uint32_t i) noexcept;
    uint32_t getNumTrackers() const noexcept;
    uint32_t getNumControllers() const noexcept;
    bool lock() noexcept;
    bool unlock() noexcept;

private:
    void report(const char* message) const noexcept;
    // The two count operations differ only in the lists and two messages.
    bool setCount(uint32_t n, const void* ownList, const void* otherList, const char* otherListMessage,
                  const char* noListMessage) noexcept;

    TraData* trackerList_;
    ConData* controllerList_;
    CLogH* logger_;
    CMutexH* mutex_;
    uint32_t* count_;
};
