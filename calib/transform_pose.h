#pragma once
// The geometry applied to each tracker pose: transmitter transform on the
// position, transmitter and sensor rotation on the orientation, then the
// sensor offset in the tracker's final frame and a plain translation.
//
// Orientation convention: right-handed, y up, column vectors,
// R(azim, elev, roll) = Ry(azim) * Rx(elev) * Rz(roll).
// Everything here is allocation-free; it runs for every tracker of every frame.
#include "calib/matrix4.h"
#include "calib/tracker_pose.h"

// Row-major 3x3 rotation, double precision for the products.
struct Rotation3 {
    double e[3][3];
};

// R(azim, elev, roll) from degrees, with single-precision sines and cosines.
Rotation3 rotationFromAngles(float azim, float elev, float roll) noexcept;

// The rotation part of a column-major Matrix4: element (r, c) = m[4c + r].
Rotation3 rotationPart(const Matrix4& matrix) noexcept;

// Replaces the pose's angles by those of Rt * R * Rs (azimuth and roll in
// -180..180, elevation in -90..90); the position is left alone.
void composeOrientation(TrackerPose& pose, const Matrix4& transmitter, const Matrix4& sensor) noexcept;

// The whole step; nothing happens when either matrix is missing. A missing
// translation counts as zero.
void transformPose(TrackerPose& pose, const Matrix4* transmitter, const Matrix4* sensor,
                   const float* translation) noexcept;
