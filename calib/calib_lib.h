#pragma once
// CCalibH: an external calibration library that corrects each tracker's six
// values in place before the module's own transforms.
//
// The library exports, with C linkage,
//     int calib_evaluate(uint32_t context, float* values);
// where values points to x, y, z (feet), azimuth, elevation, roll (degrees)
// of one tracker. It rewrites them in place; its result is ignored.
#include <cstdint>

#include "calib/dynamic_lib.h"
#include "calib/tracker_pose.h"

using CalibEvaluateProc = int (*)(uint32_t context, float* values);

class CCalibH : public CDynamicLibH {
public:
    static constexpr const char* kEntryPoint = "calib_evaluate";
    static constexpr uint32_t kEntrySlot = 1;

    // Loads the library at once. Without a logger the loader's own logger is
    // named "CCalibH".
    explicit CCalibH(const char* libraryName, const CLogH* log = nullptr) noexcept;
    ~CCalibH() override;

    // Lets the library correct the pose in place. False when no library is
    // loaded or it has no entry point; the pose is then unchanged. Does not
    // allocate once the entry point has been looked up.
    bool evaluate(TrackerPose& pose) noexcept;

    // Handed unchanged to every call; nothing in the module gives it a
    // meaning, so libraries must not rely on its value.
    uint32_t calibContext = 0;
};
