// CBaseMod's storage hook-up and record writes: the handlers it creates and
// drives, and the per-cycle writes into the host's storage.
#include <cstdio>
#include <memory>
#include <new>
#include <type_traits>

#include "calib/con_common.h"
#include "calib/tra_common.h"
#include "framework/base.h"
#include "framework/data_storage.h"
#include "framework/records.h"
#include "platform/clock.h"

namespace {

// The masks belong to the cycle that recvData runs; a write outside one
// (set-up, tests) has none to mark.
void markIn(UpdateMasks* masks, uint32_t UpdateMasks::*which, uint32_t id) noexcept {
    if (masks != nullptr) {
        markUpdated(masks->*which, id);
    }
}

// The write protocol: under the storage's lock, look record `id` up and let
// `update` write it in one piece; the look-up is reported either way.
template <class Record, class Update>
bool updateLocked(CDataStorage& storage, const CLogH& log, uint32_t id, Update update) noexcept {
    constexpr bool kTracker = std::is_same_v<Record, TraData>;
    storage.lock();
    Record* target = nullptr;
    if constexpr (kTracker) {
        target = storage.getTraData(id);
    } else {
        target = storage.getConData(id);
    }
    if (target != nullptr) {
        log.debug(kTracker ? "TraData storage found" : "ConData storage found", true);
        update(*target);
    } else {
        log.error(kTracker ? "TraData storage not found" : "ConData storage not found", true);
    }
    storage.unlock();
    return target != nullptr;
}

}  // namespace

bool CBaseMod::createHandlers() {
    if (!modInfo) {
        logger->error("Init info is empty.", true);
        return false;
    }
    if (numControllers > 0) {
        if (modInfo->controllerStorage == nullptr) {
            logger->error("Controller data storage pointer is empty.", true);
            return false;
        }
        std::unique_ptr<CConCommonH> handler(new (std::nothrow) CConCommonH(logger));
        if (!handler) {
            logger->error("Out of memory for the controller handler.", true);
            return false;
        }
        handler->inputConnector = inputConnector;
        handler->outputControllers = numControllers;
        handler->init(maxControllers, true);
        modInfo->conHandler = std::move(handler);
    }
    if (numTrackers == 0) {
        return true;
    }
    if (modInfo->trackerStorage == nullptr) {
        logger->error("Tracker data storage pointer is empty.", true);
        return false;
    }
    return makeTrackerHandler(numTrackers);
}

bool CBaseMod::makeTrackerHandler(uint32_t outputCount) {
    std::unique_ptr<CTraCommonH> handler(new (std::nothrow) CTraCommonH(logger));
    if (!handler) {
        logger->error("Out of memory for the tracker handler.", true);
        return false;
    }
    handler->inputConnector = inputConnector;
    handler->outputCount = outputCount;
    handler->caveCoordinates = true;
    handler->initTrackers(maxTrackers);
    modInfo->traHandler = std::move(handler);
    return true;
}

bool CBaseMod::registerTracker(uint32_t local, uint32_t output) {
    if (!modInfo || !modInfo->traHandler) {
        return false;
    }
    return modInfo->traHandler->setTracker(local, output, nullptr, nullptr, nullptr);
}

bool CBaseMod::registerController(uint32_t local, uint32_t output, uint32_t valuators, uint32_t buttons) {
    if (!modInfo || !modInfo->conHandler) {
        return false;
    }
    return modInfo->conHandler->setControllerDefaults(local, output, valuators, buttons);
}

bool CBaseMod::buildStorageLists() {
    if (!modInfo) {
        logger->error("Init info is empty.", true);
        return false;
    }
    // Counted afresh: a repeated set-up without controllers has none.
    numTrackerEmulations = 0;
    if (numControllers > 0 && modInfo->conHandler) {
        if (!registerControllerRecords()) {
            return false;
        }
    }
    if (numTrackers + numTrackerEmulations == 0) {
        return true;
    }
    if (!modInfo->traHandler || modInfo->trackerStorage == nullptr) {
        logger->error("Tracker data storage pointer is empty.", true);
        return false;
    }
    CTraCommonH& trackers = *modInfo->traHandler;
    trackers.parseOptions(config);
    CDataStorage& storage = *modInfo->trackerStorage;
    storage.lock();
    trackers.storageBase = storage.getNumTrackers();
    bool result = storage.setNumTrackers(trackers.storageBase + trackers.outputCount);
    if (!resetTrackerEmulations()) {
        result = false;
    }
    storage.unlock();
    return result;
}

// The controller half of buildStorageLists, with the numbering of the
// emulated trackers that follow the module's own.
bool CBaseMod::registerControllerRecords() {
    CConCommonH& controllers = *modInfo->conHandler;
    controllers.parseOptions(config);
    CDataStorage& storage = *modInfo->controllerStorage;
    storage.lock();
    controllers.controllerBase = storage.getNumControllers();
    const bool ok = storage.setNumControllers(controllers.controllerBase + numControllers);
    storage.unlock();
    if (!ok) {
        return false;
    }
    numTrackerEmulations = controllers.assignEmulatedIds(numTrackers + 1);
    if (numTrackerEmulations == 0) {
        return true;
    }
    if (modInfo->trackerStorage == nullptr) {
        logger->error("Tracker data storage pointer is empty.", true);
        return false;
    }
    if (!modInfo->traHandler) {
        if (!makeTrackerHandler(numTrackerEmulations)) {
            return false;
        }
    } else {
        modInfo->traHandler->outputCount = numTrackers + numTrackerEmulations;
    }
    for (uint32_t k = 1; k <= numTrackerEmulations; ++k) {
        modInfo->traHandler->setTracker(numTrackers + k, numTrackers + k, nullptr, nullptr, nullptr);
    }
    return true;
}

// Every emulated tracker's record at its initial pose; the caller holds the
// tracker storage's lock.
bool CBaseMod::resetTrackerEmulations() {
    if (numTrackerEmulations == 0 || !modInfo->conHandler) {
        return true;
    }
    CConCommonH& controllers = *modInfo->conHandler;
    CDataStorage& storage = *modInfo->trackerStorage;
    const uint32_t firstId = modInfo->traHandler->storageBase + numTrackers;
    bool result = true;
    uint32_t k = 0;
    for (uint32_t c = 1; c <= controllers.mapCount() && k < numTrackerEmulations; ++c) {
        const ControllerMap* map = controllers.controllerMap(c);
        if (map == nullptr || !map->emulation) {
            continue;
        }
        ++k;
        TraData* record = storage.getTraData(firstId + k);
        if (record == nullptr) {
            logger->error("Could not find tracker data entry.", true);
            result = false;
            continue;
        }
        controllers.resetEmulation(c, record, nullptr);
        record->setId(firstId + k);
    }
    return result;
}

bool CBaseMod::writeTrackerData(uint32_t local, const float position[3], const float orientation[3]) {
    if (local == 0) {
        logger->error("ID of TraData is zero.", true);
        return false;
    }
    if (!modInfo || !modInfo->traHandler) {
        return true;
    }
    CTraCommonH& trackers = *modInfo->traHandler;
    TrackerPose pose{position[0], position[1], position[2], orientation[0], orientation[1], orientation[2]};
    TraData record{};
    record.setClock(platform::readClock());
    // A local number without a slot, or a slot without an output position,
    // has no record of this module: it must not land on another module's.
    const TrackerCalib* slot = trackers.tracker(local);
    const uint32_t storageId = (slot != nullptr && slot->order != 0) ? trackers.storageIndex(local) : 0;
    record.setId(storageId);
    if (storageId != 0 && !trackers.calibratePose(local, pose)) {
        return false;  // the calibration library failed: nothing this cycle
    }
    record.setX(pose.x);
    record.setY(pose.y);
    record.setZ(pose.z);
    record.setAzim(pose.azim);
    record.setElev(pose.elev);
    record.setRoll(pose.roll);

    if (!updateLocked<TraData>(*modInfo->trackerStorage, *logger, storageId,
                               [&record](TraData& target) { target = record; })) {
        return false;
    }
    markIn(modInfo->updateMasks, &UpdateMasks::trackerMask, storageId);
    return true;
}

bool CBaseMod::writeControllerData(uint32_t local, uint32_t valuatorCount, uint32_t buttonCount, const float* valuators,
                                   const int32_t* buttons) {
    if (local == 0) {
        logger->error("ID of ConData is zero.", true);
        return false;
    }
    if (!modInfo || !modInfo->conHandler) {
        return true;
    }
    CConCommonH& controllers = *modInfo->conHandler;
    ConData record{};  // also zeroes the stamp's padding: no stale bytes reach readers
    record.clear();
    record.setClock(platform::readClock());
    record.setCounts(valuatorCount <= ConData::kMaxValuators ? valuatorCount : 0,
                     buttonCount <= ConData::kMaxButtons ? buttonCount : 0);
    const ControllerMap* map = controllers.controllerMap(local);
    uint32_t storageId = 0;
    if (map != nullptr && map->outputId != 0) {
        controllers.mapToRecord(local, valuators, valuatorCount, buttons, buttonCount, record);
        storageId = map->outputId + controllers.controllerBase;
    }
    if (storageId > ConData::kMaxId) {
        storageId = 0;
    }

    if (!updateLocked<ConData>(*modInfo->controllerStorage, *logger, storageId,
                               [&record](ConData& target) { target = record; })) {
        return false;
    }
    markIn(modInfo->updateMasks, &UpdateMasks::controllerMask, storageId);
    if (map->emulation) {
        return writeTrackerEmulation(local, *map->emulation, record);
    }
    return true;
}

// One integration step of a controller's emulated tracker, under the tracker
// storage's lock (the controller storage's lock is already released).
bool CBaseMod::writeTrackerEmulation(uint32_t local, const TrackerEmulation& emulation, const ConData& record) {
    if (!modInfo->traHandler || modInfo->trackerStorage == nullptr) {
        logger->error("TraData storage not found", true);
        return false;
    }
    const uint32_t trackerId = emulation.trackerId + modInfo->traHandler->storageBase;
    CConCommonH& controllers = *modInfo->conHandler;
    if (!updateLocked<TraData>(*modInfo->trackerStorage, *logger, trackerId, [&](TraData& target) {
            controllers.applyEmulation(local, &target, &record);
            target.setId(trackerId);
        })) {
        return false;
    }
    markIn(modInfo->updateMasks, &UpdateMasks::trackerMask, trackerId);
    return true;
}

bool CBaseMod::printTail() {
    if (modInfo && modInfo->conHandler) {
        modInfo->conHandler->printReport();
    }
    if (modInfo && modInfo->traHandler) {
        modInfo->traHandler->printSettings(true);
    }
    logger->info("-----------------------", true);
    std::fflush(stdout);
    return true;
}
