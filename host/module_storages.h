#pragma once
// The two storage views the host hands every module in its InitInfo: the
// tracker list and the controller list of the shared storage, each with its
// count word and its mutex. The mutex wrappers bump the list's sequence
// word, which lets lock-free readers tell a torn copy.
#include "framework/data_storage.h"
#include "framework/host_records.h"
#include "host/storage_layout.h"

namespace storage {

struct ModuleStorages {
    // `base` is the mapped storage; both must outlive this object.
    ModuleStorages(void* base, CLogH* logger) noexcept
        : trackerMutex(trackerMutexOf(base), logger, &headerOf(base)->trackerSequence),
          controllerMutex(controllerMutexOf(base), logger, &headerOf(base)->controllerSequence),
          trackers(trackersOf(base), nullptr, logger, &trackerMutex, &headerOf(base)->trackerCount),
          controllers(nullptr, controllersOf(base), logger, &controllerMutex, &headerOf(base)->controllerCount) {}

    ModuleStorages(const ModuleStorages&) = delete;
    ModuleStorages& operator=(const ModuleStorages&) = delete;

    InitInfo initInfo() noexcept {
        InitInfo info{};
        info.trackerStorage = &trackers;
        info.controllerStorage = &controllers;
        return info;
    }

    CMutexH trackerMutex;
    CMutexH controllerMutex;
    CDataStorage trackers;
    CDataStorage controllers;
};

}  // namespace storage
