#pragma once
// The single-precision angle conversions that calibration results depend on.
// Changing them shifts stored angles in the last bits, so they stay fixed.

// One unit in the last place below the float nearest to pi/180.
inline constexpr float kDegreesToRadians = 0.01745329f;

// Pi rounded to single precision, as a double.
inline constexpr double kSinglePrecisionPi = 3.1415927410125732;

inline float radiansToDegrees(double radians) noexcept {
    return static_cast<float>(radians * 180.0 / kSinglePrecisionPi);
}
