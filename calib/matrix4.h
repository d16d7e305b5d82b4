#pragma once
// Matrix4: sixteen floats forming a 4x4 transform, column-major (row r,
// column c at index 4c + r). A point (x, y, z) maps to
// (m[0]x + m[4]y + m[8]z + m[12], m[1]x + m[5]y + m[9]z + m[13], m[2]x + m[6]y + m[10]z + m[14]).
//
// Calibration keeps three forms of it:
//   offset holder  all zero except m[3], m[7], m[11] = x, y, z
//   rotation       3x3 rotation in indices 0-2, 4-6, 8-10, the rest zero
//                  (m[15] is 1 only in the default identity)
//   transform      a rotation with m[12..14] = the offset and m[15] = 1

struct Matrix4 {
    float m[16];

    float at(int row, int column) const noexcept { return m[4 * column + row]; }
};

Matrix4 matZero() noexcept;
Matrix4 matIdentity() noexcept;
// The offset holder of (x, y, z).
Matrix4 matTranslation(float x, float y, float z) noexcept;
// Nine values taken as given, q[0..2] being the first column; m[15] is 0.
Matrix4 matFromValues(const float (&q)[9]) noexcept;
// Right-handed rotation by `degrees` about (ax, ay, az); a zero axis gives
// the identity rotation (with m[15] 0).
Matrix4 matAxisAngle(float ax, float ay, float az, float degrees) noexcept;
// The rotation with the offset of the offset holder moved into m[12..14].
Matrix4 matTransform(const Matrix4& rotation, const Matrix4& offsetHolder) noexcept;
