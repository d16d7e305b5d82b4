#include "calib/tra_common.h"

#include <new>
#include <stdexcept>

#include "calib/transform_pose.h"

CTraCommonH::CTraCommonH(const CLogH* log) noexcept : logger_(log != nullptr ? *log : CLogH()) {
    if (log == nullptr) {
        logger_.setName("CTraCommonH");
    }
    logger_.setOwnerId(3);
    logger_.debug("CTraCommonH: \"constructor\" called.", true);
}

CTraCommonH::~CTraCommonH() {
    logger_.debug("CTraCommonH: \"destructor\" called.", true);
    calibLibrary_.reset();  // unloads while the logger still exists
}

bool CTraCommonH::initTrackers(uint32_t count) {
    if (count == 0) {
        return false;
    }
    std::vector<TrackerCalib> slots;
    try {
        slots.resize(count);
    } catch (const std::bad_alloc&) {
        return false;  // the earlier slots stay
    } catch (const std::length_error&) {
        return false;
    }
    trackers_.swap(slots);
    return true;
}

const TrackerCalib* CTraCommonH::tracker(uint32_t index) const noexcept {
    if (index == 0 || index > trackers_.size()) {
        return nullptr;
    }
    return &trackers_[index - 1];
}

bool CTraCommonH::setTracker(uint32_t index, uint32_t order, const Matrix4* offset, const Matrix4* rotation,
                             const float* translation) noexcept {
    if (index == 0 || index > trackers_.size()) {
        return false;
    }
    TrackerCalib& slot = trackers_[index - 1];
    slot.order = order;
    slot.sensorOffset = offset != nullptr ? *offset : matZero();
    slot.sensorOffsetSet = offset != nullptr;
    slot.sensorRotation = rotation != nullptr ? *rotation : matIdentity();
    slot.sensorRotationSet = rotation != nullptr;
    for (int i = 0; i < 3; ++i) {
        slot.sensorTranslation[i] = translation != nullptr ? translation[i] : 0.0f;
    }
    slot.sensorTranslationSet = translation != nullptr;
    slot.sensorTransform = matTransform(slot.sensorRotation, slot.sensorOffset);
    return true;
}

void CTraCommonH::setTransmitterOffset(const Matrix4& offsetHolder) noexcept {
    transmitterOffset_ = offsetHolder;
    transmitterTransform_ = matTransform(transmitterRotation_, transmitterOffset_);
    transmitterOffsetSet_ = true;
}

void CTraCommonH::setTransmitterRotation(const Matrix4& rotation) noexcept {
    transmitterRotation_ = rotation;
    transmitterTransform_ = matTransform(transmitterRotation_, transmitterOffset_);
    transmitterRotationSet_ = true;
}

uint32_t CTraCommonH::storageIndex(uint32_t index) const noexcept {
    const TrackerCalib* slot = tracker(index);
    return slot == nullptr ? 0 : slot->order + storageBase;
}

bool CTraCommonH::anyGeometrySet(const TrackerCalib& slot) const noexcept {
    return transmitterOffsetSet_ || transmitterRotationSet_ || slot.sensorOffsetSet || slot.sensorRotationSet ||
           slot.sensorTranslationSet;
}

bool CTraCommonH::calibratePose(uint32_t index, TrackerPose& pose) noexcept {
    if (index == 0 || index > trackers_.size()) {
        return false;
    }
    // The library sees the device's raw values, before any geometry.
    if (calibLibrary_ != nullptr && !calibLibrary_->evaluate(pose)) {
        return false;
    }
    const TrackerCalib& slot = trackers_[index - 1];
    // Untouched values stay bit-exact: no normalising round trip.
    if (anyGeometrySet(slot)) {
        transformPose(pose, &transmitterTransform_, &slot.sensorTransform, slot.sensorTranslation);
    }
    return true;
}
