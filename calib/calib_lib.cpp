#include "calib/calib_lib.h"

CCalibH::CCalibH(const char* libraryName, const CLogH* log) noexcept : CDynamicLibH(libraryName, log) {
    if (log == nullptr) {
        mutableLogger().setName("CCalibH");
    }
    mutableLogger().debug("CCalibH: \"init\" called.", true);
}

CCalibH::~CCalibH() { mutableLogger().debug("CCalibH: \"destructor\" called.", true); }

bool CCalibH::evaluate(TrackerPose& pose) noexcept {
    auto entry = reinterpret_cast<CalibEvaluateProc>(getProcAddrCached(kEntryPoint, kEntrySlot));
    if (entry == nullptr) {
        return false;
    }
    // The library sees six consecutive floats; a plain array keeps that
    // contract independent of the struct's layout.
    float values[6] = {pose.x, pose.y, pose.z, pose.azim, pose.elev, pose.roll};
    entry(calibContext, values);
    pose = TrackerPose{values[0], values[1], values[2], values[3], values[4], values[5]};
    return true;
}
