#include "calib/transform_pose.h"

#include <cfloat>
#include <cmath>

#include "calib/angle_constants.h"

namespace {

// A sum beyond float range becomes an infinity rather than undefined
// behaviour; the record encoding stores such a value as 0.
float narrow(double value) noexcept {
    if (value > FLT_MAX) {
        return HUGE_VALF;
    }
    if (value < -FLT_MAX) {
        return -HUGE_VALF;
    }
    return static_cast<float>(value);
}

Rotation3 multiply(const Rotation3& a, const Rotation3& b) noexcept {
    Rotation3 r{};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r.e[i][j] = a.e[i][0] * b.e[0][j] + a.e[i][1] * b.e[1][j] + a.e[i][2] * b.e[2][j];
        }
    }
    return r;
}

}  // namespace

Rotation3 rotationFromAngles(float azim, float elev, float roll) noexcept {
    const double sa = std::sin(azim * kDegreesToRadians), ca = std::cos(azim * kDegreesToRadians);
    const double se = std::sin(elev * kDegreesToRadians), ce = std::cos(elev * kDegreesToRadians);
    const double sr = std::sin(roll * kDegreesToRadians), cr = std::cos(roll * kDegreesToRadians);
    return Rotation3{{
        {ca * cr + sa * se * sr, sa * se * cr - ca * sr, sa * ce},
        {ce * sr, ce * cr, -se},
        {ca * se * sr - sa * cr, sa * sr + ca * se * cr, ca * ce},
    }};
}

Rotation3 rotationPart(const Matrix4& matrix) noexcept {
    Rotation3 r{};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column) {
            r.e[row][column] = matrix.at(row, column);
        }
    }
    return r;
}

void composeOrientation(TrackerPose& pose, const Matrix4& transmitter, const Matrix4& sensor) noexcept {
    const Rotation3 f = multiply(
        multiply(rotationPart(transmitter), rotationFromAngles(pose.azim, pose.elev, pose.roll)), rotationPart(sensor));
    // No special case at elevation +-90: atan2 of what remains decides.
    pose.azim = radiansToDegrees(std::atan2(f.e[0][2], f.e[2][2]));
    pose.elev = radiansToDegrees(std::atan2(-f.e[1][2], std::sqrt(f.e[0][2] * f.e[0][2] + f.e[2][2] * f.e[2][2])));
    pose.roll = radiansToDegrees(std::atan2(f.e[1][0], f.e[1][1]));
}

void transformPose(TrackerPose& pose, const Matrix4* transmitter, const Matrix4* sensor,
                   const float* translation) noexcept {
    if (transmitter == nullptr || sensor == nullptr) {
        return;
    }
    const float* t = transmitter->m;
    const double x = pose.x, y = pose.y, z = pose.z;
    double p[3] = {
        t[0] * x + t[4] * y + t[8] * z + t[12],
        t[1] * x + t[5] * y + t[9] * z + t[13],
        t[2] * x + t[6] * y + t[10] * z + t[14],
    };
    composeOrientation(pose, *transmitter, *sensor);
    // Rebuilt from the stored angles, so the offset turns with exactly the
    // orientation that is written.
    const Rotation3 turned = rotationFromAngles(pose.azim, pose.elev, pose.roll);
    const double offset[3] = {sensor->m[12], sensor->m[13], sensor->m[14]};
    for (int i = 0; i < 3; ++i) {
        p[i] += turned.e[i][0] * offset[0] + turned.e[i][1] * offset[1] + turned.e[i][2] * offset[2];
        if (translation != nullptr) {
            p[i] += translation[i];
        }
    }
    pose.x = narrow(p[0]);
    pose.y = narrow(p[1]);
    pose.z = narrow(p[2]);
}
