#include "calib/matrix4.h"

#include <cmath>

#include "calib/angle_constants.h"

Matrix4 matZero() noexcept { return Matrix4{}; }

Matrix4 matIdentity() noexcept {
    Matrix4 r{};
    r.m[0] = r.m[5] = r.m[10] = r.m[15] = 1.0f;
    return r;
}

Matrix4 matTranslation(float x, float y, float z) noexcept {
    Matrix4 r{};
    r.m[3] = x;
    r.m[7] = y;
    r.m[11] = z;
    return r;
}

Matrix4 matFromValues(const float (&q)[9]) noexcept {
    Matrix4 r{};
    for (int column = 0; column < 3; ++column) {
        for (int row = 0; row < 3; ++row) {
            r.m[4 * column + row] = q[3 * column + row];
        }
    }
    return r;
}

Matrix4 matAxisAngle(float ax, float ay, float az, float degrees) noexcept {
    float length = std::sqrt(ax * ax + ay * ay + az * az);
    if (!std::isfinite(length)) {
        // Squares beyond float range: the direction is still well defined.
        length = static_cast<float>(std::sqrt(double(ax) * ax + double(ay) * ay + double(az) * az));
    }
    float x = 0.0f, y = 0.0f, z = 0.0f, s = 0.0f, c = 1.0f;
    if (length != 0.0f) {
        x = ax / length;
        y = ay / length;
        z = az / length;
        float radians = degrees * kDegreesToRadians;
        s = std::sin(radians);
        c = std::cos(radians);
    }
    float t = 1.0f - c;
    Matrix4 r{};
    r.m[0] = t * x * x + c;
    r.m[1] = t * x * y + z * s;
    r.m[2] = t * x * z - y * s;
    r.m[4] = t * x * y - z * s;
    r.m[5] = t * y * y + c;
    r.m[6] = t * y * z + x * s;
    r.m[8] = t * x * z + y * s;
    r.m[9] = t * y * z - x * s;
    r.m[10] = t * z * z + c;
    return r;
}

Matrix4 matTransform(const Matrix4& rotation, const Matrix4& offsetHolder) noexcept {
    Matrix4 r = rotation;
    r.m[12] = offsetHolder.m[3];
    r.m[13] = offsetHolder.m[7];
    r.m[14] = offsetHolder.m[11];
    r.m[15] = 1.0f;
    return r;
}
