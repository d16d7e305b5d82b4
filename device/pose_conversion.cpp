#include "device/pose_conversion.h"

#include <cmath>

namespace pose_conversion {
namespace {

bool nearZero(double value) noexcept { return value > -kZeroBand && value < kZeroBand; }

}  // namespace

float feetFromMillimetres(double millimetres) noexcept { return static_cast<float>(millimetres) / kMillimetresPerFoot; }

void eulerFromMatrix(const double rot[9], float& azimuth, float& elevation, float& roll) noexcept {
    const double degrees = kDegreesPerRadian;
    // A matrix printed with six decimals can carry |rot[7]| a hair above 1;
    // asin would give NaN and the record a level tracker instead of +-90.
    double sinElevation = rot[7];
    if (sinElevation > 1.0) {
        sinElevation = 1.0;
    } else if (sinElevation < -1.0) {
        sinElevation = -1.0;
    }
    elevation = static_cast<float>(-std::asin(sinElevation) * degrees);
    if ((nearZero(rot[6]) && nearZero(rot[8])) || (nearZero(rot[1]) && nearZero(rot[4]))) {
        azimuth = static_cast<float>(-std::atan2(rot[2], rot[0]) * degrees);
        roll = 0.0f;
    } else {
        azimuth = static_cast<float>(std::atan2(rot[6], rot[8]) * degrees);
        roll = static_cast<float>(std::atan2(rot[1], rot[4]) * degrees);
    }
}

void convertPose(const double loc[3], const double rot[9], float position[3], float orientation[3]) noexcept {
    for (int axis = 0; axis < 3; ++axis) {
        position[axis] = feetFromMillimetres(loc[axis]);
    }
    eulerFromMatrix(rot, orientation[0], orientation[1], orientation[2]);
}

}  // namespace pose_conversion
