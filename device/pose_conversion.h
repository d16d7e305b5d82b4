#pragma once
// Turns a pose as the tracking system reports it (millimetres, rotation
// matrix column by column) into the host's tracker values: feet, and
// azimuth/elevation/roll in degrees with R = Ry(azimuth) * Rx(elevation) *
// Rz(roll), y up.
namespace pose_conversion {

// Millimetres per foot and degrees per radian, as single-precision values:
// the stored records must not change with the compiler's rounding of 304.8.
constexpr float kMillimetresPerFoot = 304.79998779296875f;
constexpr float kDegreesPerRadian = 57.29579162597656f;
// Below this a matrix element counts as zero (double-precision epsilon).
constexpr double kZeroBand = 2.220446049250313e-16;

// One axis: the value is narrowed to float first, then divided in float.
float feetFromMillimetres(double millimetres) noexcept;

// rot[3c + r] is element (row r, column c). Writes the three angles in
// degrees. When the elevation is +-90 degrees (the y column or the middle
// row is zero) the azimuth takes the whole turn and the roll is 0.
void eulerFromMatrix(const double rot[9], float& azimuth, float& elevation, float& roll) noexcept;

// Both steps for one record: position in feet, orientation in degrees.
void convertPose(const double loc[3], const double rot[9], float position[3], float orientation[3]) noexcept;

}  // namespace pose_conversion
